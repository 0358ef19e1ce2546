#include "boardsim/hal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sstream>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/clock.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using BoardSim::Hal;
using BoardSim::Request;
using Kind = Hal::Output::Kind;

constexpr std::uint32_t kReadFailed = 0xffffffff;

class HalTest : public BoardTest {
protected:
  Hal& hal = sim.add<Hal>();
  Fd fd{Board::io().open(Board::kHal, O_RDWR | O_NONBLOCK)};

  int request(unsigned long code, void* record) { return Board::io().ioctl(fd.lowlevel_fd(), code, record); }
  int connect(std::uint32_t output, std::uint32_t input) {
    Board::MuxConnect record{output, input};
    return request(Board::HAL_MUX_CONNECT, &record);
  }
  int disable(std::uint32_t output) {
    Board::MuxDisable record{output};
    return request(Board::HAL_MUX_DISABLE, &record);
  }
  int write(std::uint32_t output, std::uint32_t byte) {
    Board::MuxWrite record{output, byte};
    return request(Board::HAL_MUX_WRITE, &record);
  }
  // The byte the driver hands back, kReadFailed when the request fails.
  std::uint32_t read(std::uint32_t port) {
    Board::MuxRead record{port, 0xff};
    if (request(Board::HAL_MUX_READ, &record) != 0) return kReadFailed;
    EXPECT_EQ(record.port, port);  // the port word comes back as it went
    return record.byte;
  }

  std::vector<std::string> logged(std::string_view name = {}) {
    std::vector<std::string> lines;
    for (Request const& entry : sim.requests(Board::kHal, name)) {
      std::ostringstream text;
      text << entry;
      lines.push_back(text.str().substr(text.str().find(' ') + 1));
    }
    return lines;
  }
};

TEST_F(HalTest, UntouchedPortsCarryTheIdleByte) {
  ASSERT_TRUE(fd) << Errno();
  EXPECT_EQ(hal.output(5), (Hal::Output{Kind::unset, 0}));
  EXPECT_EQ(read(5), 0xffu);
  EXPECT_EQ(read(0), 0xffu);
  EXPECT_EQ(logged("ioctl read"), (std::vector<std::string>{"/dev/hal ioctl read port=5 byte=0xff got=0xff",
                                                            "/dev/hal ioctl read port=0 byte=0xff got=0xff"}));
}

TEST_F(HalTest, WriteDrivesTheOutputWithItsByte) {
  ASSERT_EQ(write(1, 0xd5), 0);
  EXPECT_EQ(hal.output(1), (Hal::Output{Kind::byte, 0xd5}));
  EXPECT_EQ(read(1), 0xd5u);
  ASSERT_EQ(write(1, 0), 0);
  EXPECT_EQ(read(1), 0x00u);
  EXPECT_EQ(hal.output(2).kind, Kind::unset);  // only the port named
  EXPECT_EQ(logged(), (std::vector<std::string>{
                          "/dev/hal open flags=O_RDWR|O_NONBLOCK",
                          "/dev/hal ioctl write output=1 byte=0xd5",
                          "/dev/hal ioctl read port=1 byte=0xff got=0xd5",
                          "/dev/hal ioctl write output=1 byte=0x00",
                          "/dev/hal ioctl read port=1 byte=0xff got=0x00",
                      }));
}

TEST_F(HalTest, ConnectedOutputCarriesWhatItsInputCarries) {
  ASSERT_EQ(connect(1, 37), 0);
  EXPECT_EQ(hal.output(1), (Hal::Output{Kind::input, 37}));
  EXPECT_EQ(read(1), 0xffu);  // a trunk channel nobody set

  hal.set_input(37, 0x2a);
  EXPECT_EQ(read(1), 0x2au);
  EXPECT_EQ(read(37), 0x2au);

  // The input's own constant byte wins over its trunk channel.
  ASSERT_EQ(write(37, 0x55), 0);
  EXPECT_EQ(read(1), 0x55u);
  ASSERT_EQ(disable(37), 0);
  EXPECT_EQ(read(1), 0x2au);
  EXPECT_EQ(logged("ioctl connect"), (std::vector<std::string>{"/dev/hal ioctl connect output=1 input=37"}));
  EXPECT_EQ(logged("ioctl disable"), (std::vector<std::string>{"/dev/hal ioctl disable output=37"}));
}

TEST_F(HalTest, ConnectionsChainAndLoopsCarryTheIdleByte) {
  ASSERT_EQ(connect(1, 2), 0);
  ASSERT_EQ(connect(2, 3), 0);
  ASSERT_EQ(write(3, 0x10), 0);
  EXPECT_EQ(read(1), 0x10u);
  EXPECT_EQ(hal.carries(2), 0x10u);

  hal.set_input(1, 0x01);
  ASSERT_EQ(connect(3, 1), 0);
  EXPECT_EQ(read(1), 0xffu);
  EXPECT_EQ(read(3), 0xffu);
  ASSERT_EQ(connect(4, 4), 0);
  EXPECT_EQ(read(4), 0xffu);
  ASSERT_EQ(disable(2), 0);  // breaks the loop: 2 carries its trunk channel again
  hal.set_input(2, 0x22);
  EXPECT_EQ(read(1), 0x22u);
  EXPECT_EQ(read(3), 0x22u);
}

TEST_F(HalTest, DisabledOutputCarriesItsTrunkChannelAndTheLastRequestWins) {
  hal.set_input(9, 0x3c);
  ASSERT_EQ(write(9, 0x00), 0);
  EXPECT_EQ(read(9), 0x00u);
  ASSERT_EQ(disable(9), 0);
  EXPECT_EQ(hal.output(9), (Hal::Output{Kind::disabled, 0}));
  EXPECT_EQ(read(9), 0x3cu);
  ASSERT_EQ(disable(9), 0);  // disabling twice is no error
  ASSERT_EQ(connect(9, 8), 0);
  ASSERT_EQ(write(9, 0x7e), 0);
  EXPECT_EQ(hal.output(9), (Hal::Output{Kind::byte, 0x7e}));
  ASSERT_EQ(connect(9, 8), 0);
  EXPECT_EQ(hal.output(9), (Hal::Output{Kind::input, 8}));
  EXPECT_EQ(read(9), 0xffu);
}

TEST_F(HalTest, AnyThirtyTwoBitPortIsAPort) {
  ASSERT_EQ(connect(0xffffffff, 0x80000000), 0);
  hal.set_input(0x80000000, 0x99);
  EXPECT_EQ(read(0xffffffff), 0x99u);
  EXPECT_EQ(logged("ioctl connect"),
            (std::vector<std::string>{"/dev/hal ioctl connect output=4294967295 input=2147483648"}));
}

TEST_F(HalTest, RecordsNeedNoAlignment) {
  alignas(8) unsigned char buffer[16] = {};
  unsigned char* const odd = buffer + 1;
  Board::MuxWrite const put{6, 0x42};
  std::memcpy(odd, &put, sizeof put);
  ASSERT_EQ(request(Board::HAL_MUX_WRITE, odd), 0);
  Board::MuxRead got{6, 0xff};
  std::memcpy(odd, &got, sizeof got);
  ASSERT_EQ(request(Board::HAL_MUX_READ, odd), 0);
  std::memcpy(&got, odd, sizeof got);
  EXPECT_EQ(got.byte, 0x42u);
}

// --- Strictness -----------------------------------------------------------------------

TEST_F(HalTest, ByteAboveTheRangeIsEinvalAndChangesNothing) {
  ASSERT_EQ(write(1, 0x11), 0);
  DiagCapture cerr;
  EXPECT_EQ(write(1, 0x100), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(write(1, 0xffffffff), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(hal.output(1), (Hal::Output{Kind::byte, 0x11}));
  EXPECT_EQ(logged("ioctl write"), (std::vector<std::string>{"/dev/hal ioctl write output=1 byte=0x11",
                                                             "/dev/hal ioctl write output=1 byte=0x100 -> EINVAL",
                                                             "/dev/hal ioctl write output=1 byte=0xffffffff -> EINVAL"}));
  EXPECT_NE(cerr.text().find("/dev/hal ioctl write output=1 byte=0x100 -> EINVAL\n"), std::string::npos)
      << cerr.text();
}

TEST_F(HalTest, ReadWithoutTheIdleByteGoingInIsEinval) {
  ASSERT_EQ(write(2, 0x20), 0);
  DiagCapture cerr;
  for (std::uint32_t const in : {0x00u, 0x20u, 0xfeu, 0x1ffu}) {
    Board::MuxRead record{2, in};
    EXPECT_EQ(request(Board::HAL_MUX_READ, &record), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(record.byte, in);  // a refused read hands nothing back
  }
  EXPECT_EQ(logged("ioctl read").front(), "/dev/hal ioctl read port=2 byte=0x00 -> EINVAL");
}

TEST_F(HalTest, NullRecordIsEfault) {
  DiagCapture cerr;
  for (unsigned long const code :
       {Board::HAL_MUX_CONNECT, Board::HAL_MUX_DISABLE, Board::HAL_MUX_WRITE, Board::HAL_MUX_READ}) {
    EXPECT_EQ(request(code, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
  }
  EXPECT_EQ(logged(), (std::vector<std::string>{
                          "/dev/hal open flags=O_RDWR|O_NONBLOCK",
                          "/dev/hal ioctl connect -> EFAULT",
                          "/dev/hal ioctl disable -> EFAULT",
                          "/dev/hal ioctl write -> EFAULT",
                          "/dev/hal ioctl read -> EFAULT",
                      }));
}

TEST_F(HalTest, RecordRequestsByValueAreEfault) {
  DiagCapture cerr;
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), Board::HAL_MUX_DISABLE, 1), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(hal.output(1).kind, Kind::unset);
  EXPECT_EQ(logged("ioctl disable"), (std::vector<std::string>{"/dev/hal ioctl disable value=0x1 -> EFAULT"}));
}

TEST_F(HalTest, UnknownRequestsAreEnotty) {
  DiagCapture cerr;
  Board::MuxConnect record{1, 2};
  // Neighbours of the known codes: another number, another size, another direction.
  for (unsigned long const code : {0x80084D01ul, 0x80084D06ul, 0x800C4D02ul, 0x40084D02ul, 0xC0084D02ul,
                                   0x80084E02ul, 0x4D02ul}) {
    EXPECT_EQ(request(code, &record), -1) << std::hex << code;
    EXPECT_EQ(errno, ENOTTY);
  }
  EXPECT_EQ(hal.output(1).kind, Kind::unset);
  EXPECT_EQ(logged()[1], "/dev/hal ioctl 0x80084d01 -> ENOTTY");
}

TEST_F(HalTest, WritingTheDeviceIsEinval) {
  DiagCapture cerr;
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), "\x01", 1), -1);
  EXPECT_EQ(errno, EINVAL);
}

TEST_F(HalTest, InjectedFaultFailsTheNamedRequestOnly) {
  sim.fail(Board::kHal, "ioctl connect", EIO, BoardSim::Repeat::once);
  EXPECT_EQ(connect(1, 2), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(hal.output(1).kind, Kind::unset);  // a failed request changes nothing
  EXPECT_EQ(write(1, 0x01), 0);
  EXPECT_EQ(connect(1, 2), 0);
  EXPECT_EQ(hal.output(1), (Hal::Output{Kind::input, 2}));
  EXPECT_EQ(logged("ioctl connect"), (std::vector<std::string>{"/dev/hal ioctl connect output=1 input=2 -> EIO",
                                                               "/dev/hal ioctl connect output=1 input=2"}));
}

TEST_F(HalTest, SwitchStateIsSharedByEveryOpen) {
  Fd second(Board::io().open(Board::kHal, O_RDWR));
  ASSERT_TRUE(second);
  ASSERT_EQ(write(3, 0x33), 0);
  Board::MuxRead record{3, 0xff};
  ASSERT_EQ(Board::io().ioctl(second.lowlevel_fd(), Board::HAL_MUX_READ, &record), 0);
  EXPECT_EQ(record.byte, 0x33u);
  second.close();
  fd.close();
  EXPECT_EQ(hal.output(3), (Hal::Output{Kind::byte, 0x33}));  // the switch outlives the opens
}

}  // namespace
}  // namespace test
