// The clock selector and SPI bus of "/dev/hal", the E1 maintenance device and the CAS
// device: what each request does, what each refuses, and the control-socket words.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>

#include "boardsim/control.h"
#include "boardsim/e1_cas.h"
#include "boardsim/hal.h"
#include "boardsim/maintenance.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class BoardControlModelsTest : public BoardTest {
protected:
  Lines control(std::string_view line) { return BoardSim::control_command(sim, line); }
  // The last logged request on the device, without its time stamp.
  std::string last(char const* device) {
    auto const entries = sim.requests(device);
    if (entries.empty()) return {};
    std::ostringstream text;
    text << entries.back();
    return text.str().substr(text.str().find(' ') + 1);
  }
  // -1 with errno's value negated, else the result.
  static int outcome(int result) { return result < 0 ? -errno : result; }
  int spi(unsigned long code, std::uint8_t channel, std::uint8_t reg, std::uint8_t data) {
    Board::SpiAccess record{channel, reg, data};
    return outcome(Board::io().ioctl(hal.lowlevel_fd(), code, &record));
  }

  BoardSim::Hal& hal_model = sim.add<BoardSim::Hal>();
  BoardSim::Maintenance& maintenance_model = sim.add<BoardSim::Maintenance>();
  BoardSim::E1Cas& cas_model = sim.add<BoardSim::E1Cas>();
  Fd hal{Board::io().open(Board::kHal, O_RDWR)};
  Fd maintenance{Board::io().open(Board::kMaintenance, O_RDWR | O_NONBLOCK)};
  Fd cas{Board::io().open(Board::kE1Cas, O_RDWR | O_NONBLOCK)};
};

TEST_F(BoardControlModelsTest, ClockSelectorAndSpiRegisters) {
  EXPECT_EQ(control("state hal clock"), (Lines{"clock source=-", "ok"}));
  Board::ClockSelect source{9};
  EXPECT_EQ(Board::io().ioctl(hal.lowlevel_fd(), Board::HAL_CLOCK_SELECT, &source), 0);
  EXPECT_EQ(last(Board::kHal), "/dev/hal ioctl HW_CLOCK_SELECT source=9");
  EXPECT_EQ(control("state hal clock"), (Lines{"clock source=9", "ok"}));
  EXPECT_EQ(hal_model.control().clock_source(), 9u);
  EXPECT_EQ(Board::io().ioctl_value(hal.lowlevel_fd(), Board::HAL_CLOCK_SELECT, 4), -1);
  EXPECT_EQ(errno, EFAULT) << "a pointer request by value";

  EXPECT_EQ(spi(Board::HAL_SPI_READ, 7, 51, 0xff), 0xc5) << "the line is up until told otherwise";
  EXPECT_EQ(last(Board::kHal), "/dev/hal ioctl spi-read channel=7 register=51 data=0xff result=197");
  EXPECT_EQ(spi(Board::HAL_SPI_READ, 7, 50, 0xff), 0);
  EXPECT_EQ(spi(Board::HAL_SPI_WRITE, 7, 50, 0x80), 0);
  EXPECT_EQ(spi(Board::HAL_SPI_READ, 7, 50, 0xff), 0x80);
  EXPECT_EQ(control("set hal spi 7 51 0x85"), Lines{"ok"});
  EXPECT_EQ(spi(Board::HAL_SPI_READ, 7, 51, 0xff), 0x85);
  EXPECT_EQ(control("state hal spi 7"), (Lines{"channel=7 48=- 50=0x80 51=0x85 52=- 53=- 54=- 55=- 87=-", "ok"}));

  EXPECT_EQ(spi(Board::HAL_SPI_WRITE, 8, 50, 0), -EINVAL);
  EXPECT_EQ(spi(Board::HAL_SPI_READ, 0, 51, 0x00), -EINVAL) << "a read goes in with 0xff";
  EXPECT_EQ(control("state hal spi 8").back().rfind("error usage", 0), 0u);
  EXPECT_EQ(control("set hal spi 0 256 1").back().rfind("error usage", 0), 0u);
  EXPECT_EQ(control("state hal 8192").size(), 2u) << "the switch's own words still work";
}

TEST_F(BoardControlModelsTest, TrunkStatusAndTransmitClock) {
  EXPECT_EQ(control("set maintenance 1 9 3 4 5 6 4294967295"), Lines{"ok"});
  Board::E1TrunkStatus record{};
  record.trunk = 1;
  ASSERT_EQ(Board::io().ioctl(maintenance.lowlevel_fd(), Board::E1_TRUNK_STATUS, &record), 0);
  EXPECT_EQ(record.trunk, 1u);
  EXPECT_EQ(record.state, 9u);
  EXPECT_EQ(record.slips, 3u);
  EXPECT_EQ(record.rai, 0xffffffffu);
  EXPECT_EQ(last(Board::kMaintenance),
            "/dev/maintenance ioctl status trunk=1 state=9 slips=3 lossBF=4 lossCarrier=5 ais=6 rai=4294967295");
  record = {};
  record.trunk = 3;
  ASSERT_EQ(Board::io().ioctl(maintenance.lowlevel_fd(), Board::E1_TRUNK_STATUS, &record), 0);
  EXPECT_EQ(record.trunk, 3u);
  EXPECT_EQ(record.state, 0u);

  record = {};
  record.trunk = 4;
  EXPECT_EQ(outcome(Board::io().ioctl(maintenance.lowlevel_fd(), Board::E1_TRUNK_STATUS, &record)), -EINVAL);
  record = {};
  record.unused2[19] = 1;
  EXPECT_EQ(outcome(Board::io().ioctl(maintenance.lowlevel_fd(), Board::E1_TRUNK_STATUS, &record)), -EINVAL)
      << "a record not zeroed going in";
  EXPECT_EQ(outcome(Board::io().ioctl_value(maintenance.lowlevel_fd(), Board::E1_TRUNK_STATUS, 0)), -EFAULT);

  EXPECT_EQ(control("state maintenance"), (Lines{"tclk=-", "ok"}));
  EXPECT_EQ(Board::io().ioctl_value(maintenance.lowlevel_fd(), Board::E1_TRANSMIT_CLOCK, 0x80000004), 0);
  EXPECT_EQ(last(Board::kMaintenance), "/dev/maintenance ioctl tclk value=0x80000004");
  EXPECT_EQ(control("state maintenance"), (Lines{"tclk=0x80000004", "ok"}));
  EXPECT_EQ(maintenance_model.transmit_clock(), 0x80000004u);
  std::uint32_t mask = 1;
  EXPECT_EQ(outcome(Board::io().ioctl(maintenance.lowlevel_fd(), Board::E1_TRANSMIT_CLOCK, &mask)), -EINVAL);
  EXPECT_EQ(control("set maintenance 4 0 0 0 0 0 0").back().rfind("error usage", 0), 0u);
}

TEST_F(BoardControlModelsTest, CasTrunksTimeslotsAndReceivedBitChanges) {
  int const fd = cas.lowlevel_fd();
  auto channel = [](std::uint32_t trunk, std::uint32_t timeslot, std::uint8_t tx) {
    return Board::CasChannel{trunk, timeslot, 0, tx, {0, 0}};
  };
  Board::CasChannel get = channel(1, 5, 0);
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_GET_BITS, &get)), -EINVAL) << "the trunk is not open";
  EXPECT_EQ(Board::io().ioctl_value(fd, Board::CAS_OPEN_TRUNK, 1), 0);
  EXPECT_EQ(last(Board::kE1Cas), "/dev/e1-cas ioctl open-trunk value=0x1");
  EXPECT_TRUE(cas_model.trunk_open(1));
  EXPECT_EQ(outcome(Board::io().ioctl_value(fd, Board::CAS_OPEN_TRUNK, 4)), -EINVAL);

  Board::CasConfigure on{channel(1, 5, 9), 0};
  EXPECT_EQ(Board::io().ioctl(fd, Board::CAS_CONFIGURE, &on), 0);
  EXPECT_EQ(last(Board::kE1Cas), "/dev/e1-cas ioctl configure trunk=1 timeslot=5 rx=0x00 tx=0x09 off=0");
  EXPECT_EQ(control("state e1-cas 1 5"), (Lines{"open=1 on=1 rx=0x00 tx=0x09", "ok"}));
  EXPECT_TRUE(cas_model.timeslot(1, 5).on);
  EXPECT_EQ(control("set e1-cas rx 1 5 10"), Lines{"ok"});
  Board::CasChannel change{};
  EXPECT_EQ(::recv(fd, &change, sizeof change, MSG_DONTWAIT), static_cast<ssize_t>(sizeof change));
  EXPECT_EQ(change.trunk, 1u);
  EXPECT_EQ(change.timeslot, 5u);
  EXPECT_EQ(change.rx, 10);
  EXPECT_EQ(change.tx, 9);
  ASSERT_EQ(Board::io().ioctl(fd, Board::CAS_GET_BITS, &get), 0);
  EXPECT_EQ(get.rx, 10);
  EXPECT_EQ(get.tx, 9);
  EXPECT_EQ(last(Board::kE1Cas), "/dev/e1-cas ioctl get-bits trunk=1 timeslot=5 rx=0x00 tx=0x00 got-rx=0x0a got-tx=0x09");

  Board::CasChannel bad = channel(1, 32, 0);
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_SET_BITS, &bad)), -EINVAL);
  bad = channel(1, 5, 16);
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_SET_BITS, &bad)), -EINVAL);
  bad = channel(1, 5, 0);
  bad.rx = 1;
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_SET_BITS, &bad)), -EINVAL);
  bad = channel(1, 5, 0);
  bad.padding[1] = 1;
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_GET_BITS, &bad)), -EINVAL);
  Board::CasConfigure off_two{channel(1, 5, 0), 2};
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_CONFIGURE, &off_two)), -EINVAL);
  EXPECT_EQ(outcome(Board::io().ioctl(fd, Board::CAS_OPEN_TRUNK, &get)), -EINVAL) << "a value request by pointer";
  EXPECT_EQ(outcome(Board::io().ioctl_value(fd, Board::CAS_GET_BITS, 1)), -EFAULT);

  // Switched off, or on a closed trunk, a change is kept but not sent.
  Board::CasConfigure off{channel(1, 5, 0), 1};
  EXPECT_EQ(Board::io().ioctl(fd, Board::CAS_CONFIGURE, &off), 0);
  EXPECT_EQ(control("set e1-cas rx 1 5 3"), Lines{"ok"});
  EXPECT_EQ(Board::io().ioctl_value(fd, Board::CAS_CLOSE_TRUNK, 1), 0);
  EXPECT_EQ(control("state e1-cas 1 5"), (Lines{"open=0 on=0 rx=0x03 tx=0x00", "ok"}));
  EXPECT_EQ(::recv(fd, &change, sizeof change, MSG_DONTWAIT), -1);
  EXPECT_EQ(control("set e1-cas rx 1 5 16").back().rfind("error usage", 0), 0u);
}

}  // namespace
}  // namespace test
