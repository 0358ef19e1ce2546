#include "boardsim/control.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "boardsim/hal.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/clock.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class ControlTest : public BoardTest {
protected:
  BoardSim::Hal& hal = sim.add<BoardSim::Hal>();
  BoardSim::Watchdog& watchdog = sim.add<BoardSim::Watchdog>(3);

  Lines run(std::string_view line) { return BoardSim::control_command(sim, line); }
  static std::string at(unsigned ms) { return std::to_string(ms) + ' '; }
  static unsigned now() { return Mux::milliseconds(); }

  static int write_byte(int fd, std::uint32_t output, std::uint32_t byte) {
    Board::MuxWrite record{output, byte};
    return Board::io().ioctl(fd, Board::HAL_MUX_WRITE, &record);
  }
};

TEST_F(ControlTest, LogListsRequestsFilteredWithTheDroppedCount) {
  unsigned const t0 = now();
  Fd hal_fd(Board::io().open(Board::kHal, O_RDWR));
  clock.advance_ms(7);
  ASSERT_EQ(write_byte(hal_fd.lowlevel_fd(), 1, 0xd5), 0);
  Fd wd(Board::io().open(Board::kWatchdog, O_WRONLY));
  ASSERT_EQ(Board::io().write(wd.lowlevel_fd(), "START", 5), 5);

  EXPECT_EQ(run("log"), (Lines{at(t0) + "/dev/hal open flags=O_RDWR",
                               at(t0 + 7) + "/dev/hal ioctl write output=1 byte=0xd5",
                               at(t0 + 7) + "/dev/misc/gw-wd open flags=O_WRONLY",
                               at(t0 + 7) + "/dev/misc/gw-wd write data=\"START\"", "dropped 0", "ok"}));
  EXPECT_EQ(run("log hal"), (Lines{at(t0) + "/dev/hal open flags=O_RDWR",
                                   at(t0 + 7) + "/dev/hal ioctl write output=1 byte=0xd5", "dropped 0", "ok"}));
  EXPECT_EQ(run("log /dev/hal ioctl write"),
            (Lines{at(t0 + 7) + "/dev/hal ioctl write output=1 byte=0xd5", "dropped 0", "ok"}));
  EXPECT_EQ(run("  log\thal   ioctl  write "), run("log /dev/hal ioctl write"));
  EXPECT_EQ(run("log misc/gw-wd write"), (Lines{at(t0 + 7) + "/dev/misc/gw-wd write data=\"START\"", "dropped 0", "ok"}));
  EXPECT_EQ(run("log hal ioctl connect"), (Lines{"dropped 0", "ok"}));

  EXPECT_EQ(run("clear"), (Lines{"ok"}));
  EXPECT_EQ(run("log"), (Lines{"dropped 0", "ok"}));
}

TEST(ControlLog, CountsTheDroppedRequests) {
  FakeClock clock;
  BoardSim::Sim sim(2);
  sim.add<BoardSim::Hal>();
  Fd fd(sim.open(Board::kHal, O_RDWR));
  for (std::uint32_t port = 1; port <= 4; ++port) {
    Board::MuxDisable record{port};
    ASSERT_EQ(sim.ioctl(fd.lowlevel_fd(), Board::HAL_MUX_DISABLE, &record), 0);
  }
  std::string const t = std::to_string(Mux::milliseconds());
  EXPECT_EQ(BoardSim::control_command(sim, "log"),
            (Lines{t + " /dev/hal ioctl disable output=3", t + " /dev/hal ioctl disable output=4", "dropped 3", "ok"}));
  EXPECT_EQ(BoardSim::control_command(sim, "clear"), (Lines{"ok"}));
  EXPECT_EQ(BoardSim::control_command(sim, "log"), (Lines{"dropped 0", "ok"}));
}

TEST_F(ControlTest, StateAndSetOfTheSwitch) {
  Fd fd(Board::io().open(Board::kHal, O_RDWR));
  EXPECT_EQ(run("state hal 1"), (Lines{"output=1 unset carries=0xff", "ok"}));
  ASSERT_EQ(write_byte(fd.lowlevel_fd(), 1, 0xd5), 0);
  EXPECT_EQ(run("state hal 1"), (Lines{"output=1 byte=0xd5 carries=0xd5", "ok"}));

  Board::MuxConnect connect{2, 37};
  ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), Board::HAL_MUX_CONNECT, &connect), 0);
  EXPECT_EQ(run("state hal 2"), (Lines{"output=2 input=37 carries=0xff", "ok"}));
  EXPECT_EQ(run("set hal 37 0x2a"), (Lines{"ok"}));
  EXPECT_EQ(hal.carries(37), 0x2au);
  EXPECT_EQ(run("state /dev/hal 0x2"), (Lines{"output=2 input=37 carries=0x2a", "ok"}));
  EXPECT_EQ(run("set hal 37 255"), (Lines{"ok"}));
  EXPECT_EQ(run("state hal 2"), (Lines{"output=2 input=37 carries=0xff", "ok"}));

  Board::MuxDisable disable{2};
  ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), Board::HAL_MUX_DISABLE, &disable), 0);
  EXPECT_EQ(run("state hal 2"), (Lines{"output=2 disabled carries=0xff", "ok"}));
  EXPECT_EQ(run("state hal 4294967295"), (Lines{"output=4294967295 unset carries=0xff", "ok"}));
}

TEST_F(ControlTest, BadSwitchCommandsChangeNothing) {
  for (std::string_view const bad : {"state hal", "state hal x", "state hal 1 2", "state hal -1", "state hal 4294967296",
                                     "state hal 0x", "state hal 1x"}) {
    EXPECT_EQ(run(bad), (Lines{"error usage: state hal <port>"})) << bad;
  }
  for (std::string_view const bad : {"set hal 1", "set hal 1 256", "set hal 1 0x100", "set hal x 1", "set hal 1 2 3",
                                     "set hal 1 -1"}) {
    EXPECT_EQ(run(bad), (Lines{"error usage: set hal <port> <byte 0..255>"})) << bad;
  }
  EXPECT_EQ(hal.carries(1), 0xffu);
  EXPECT_EQ(run("state"), (Lines{"error usage: state <device> ..."}));
  EXPECT_EQ(run("set"), (Lines{"error usage: set <device> ..."}));
  EXPECT_EQ(run("state rtp 1"), (Lines{"error no model of /dev/rtp"}));
  EXPECT_EQ(run("set misc/gw-wd 1"), (Lines{"error /dev/misc/gw-wd has no set"}));
  EXPECT_EQ(run("frob hal"), (Lines{"error unknown command frob"}));
  EXPECT_EQ(run(""), (Lines{"error empty command"}));
  EXPECT_EQ(run(" \t "), (Lines{"error empty command"}));
  EXPECT_EQ(run("clear now"), (Lines{"error usage: clear"}));
  EXPECT_EQ(run("clear-faults x"), (Lines{"error usage: clear-faults"}));
  EXPECT_EQ(run("watchdog x"), (Lines{"error usage: watchdog"}));
}

TEST_F(ControlTest, FailArmsAFaultOnANamedRequest) {
  Fd fd(Board::io().open(Board::kHal, O_RDWR));
  EXPECT_EQ(run("fail hal ioctl write EIO once"), (Lines{"ok"}));
  EXPECT_EQ(write_byte(fd.lowlevel_fd(), 1, 1), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(write_byte(fd.lowlevel_fd(), 1, 1), 0);

  EXPECT_EQ(run("fail /dev/hal ioctl write 16 always"), (Lines{"ok"}));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(write_byte(fd.lowlevel_fd(), 1, 1), -1);
    EXPECT_EQ(errno, EBUSY);
  }
  EXPECT_EQ(run("clear-faults"), (Lines{"ok"}));
  EXPECT_EQ(write_byte(fd.lowlevel_fd(), 1, 1), 0);

  EXPECT_EQ(run("fail hal open ENODEV once"), (Lines{"ok"}));
  EXPECT_EQ(Board::io().open(Board::kHal, O_RDWR), -1);
  EXPECT_EQ(errno, ENODEV);
  EXPECT_EQ(run("log hal open").at(1), at(now()) + "/dev/hal open flags=O_RDWR -> ENODEV");
}

TEST_F(ControlTest, FailRefusesWhatItCannotArm) {
  EXPECT_EQ(run("fail hal open EIO"), (Lines{"error usage: fail <device> <request> <errno> once|always"}));
  EXPECT_EQ(run("fail hal open EIO twice"), (Lines{"error repeat is once or always, not twice"}));
  EXPECT_EQ(run("fail hal open ENOSUCH once"), (Lines{"error no errno ENOSUCH"}));
  EXPECT_EQ(run("fail hal open 0 once"), (Lines{"error no errno 0"}));
  EXPECT_EQ(run("fail hal open 99999 once"), (Lines{"error no errno 99999"}));
  Fd fd(Board::io().open(Board::kHal, O_RDWR));
  EXPECT_TRUE(fd);
}

TEST_F(ControlTest, DeliverWritesOneRecordIntoTheOldestOpen) {
  EXPECT_EQ(run("deliver hal 01"), (Lines{"error not delivered to /dev/hal: no open of it, or its queue is full"}));
  Fd gone(Board::io().open(Board::kHal, O_RDWR | O_NONBLOCK));
  Fd fd(Board::io().open(Board::kHal, O_RDWR | O_NONBLOCK));
  Fd newer(Board::io().open(Board::kHal, O_RDWR | O_NONBLOCK));
  gone.close();
  EXPECT_EQ(run("deliver hal 01 02ff"), (Lines{"ok"}));
  EXPECT_EQ(run("deliver /dev/hal A0b1"), (Lines{"ok"}));
  unsigned char buf[8] = {};
  ASSERT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), 3);
  EXPECT_EQ(buf[0], 0x01);
  EXPECT_EQ(buf[1], 0x02);
  EXPECT_EQ(buf[2], 0xff);
  ASSERT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), 2);
  EXPECT_EQ(buf[0], 0xa0);
  EXPECT_EQ(buf[1], 0xb1);

  EXPECT_EQ(run("deliver hal"), (Lines{"error usage: deliver <device> <hex bytes>"}));
  EXPECT_EQ(run("deliver hal 012"), (Lines{"error not hex bytes: 012"}));
  EXPECT_EQ(run("deliver hal 0x12"), (Lines{"error not hex bytes: 0x12"}));
  EXPECT_EQ(run("deliver hal 12 zz"), (Lines{"error not hex bytes: zz"}));
  EXPECT_EQ(run("deliver rtp 12"), (Lines{"error not delivered to /dev/rtp: no open of it, or its queue is full"}));
  EXPECT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), -1);  // nothing half-delivered
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(Board::io().read(newer.lowlevel_fd(), buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
}

TEST_F(ControlTest, WatchdogShowsItsStateAndItsMostRecentWrites) {
  EXPECT_EQ(run("watchdog"), (Lines{"state idle", "opens 0", "dropped 0", "ok"}));
  Fd fd(Board::io().open(Board::kWatchdog, O_WRONLY));
  unsigned const t0 = now();
  ASSERT_EQ(Board::io().write(fd.lowlevel_fd(), "START", 5), 5);
  for (int i = 1; i <= 3; ++i) {
    clock.advance_ms(1000);
    ASSERT_EQ(Board::io().write(fd.lowlevel_fd(), "PING", 4), 4);
  }
  EXPECT_EQ(run("watchdog"), (Lines{"state started", "opens 1", at(t0 + 1000) + "PING", at(t0 + 2000) + "PING",
                                    at(t0 + 3000) + "PING", "dropped 1", "ok"}));
  EXPECT_EQ(run("state misc/gw-wd"), run("watchdog"));
  EXPECT_EQ(run("state misc/gw-wd 1"), (Lines{"error usage: state /dev/misc/gw-wd"}));
  EXPECT_EQ(watchdog.dropped_writes(), 1u);
}

}  // namespace
}  // namespace test
