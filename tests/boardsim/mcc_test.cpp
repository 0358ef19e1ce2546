#include "boardsim/mcc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <vector>

#include "boardsim/hal.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using BoardSim::Mcc;
using Lines = std::vector<std::string>;

class MccTest : public BoardTest {
protected:
  DiagCapture diag;  // the refusals' lines
  BoardSim::Hal& hal = sim.add<BoardSim::Hal>();
  Mcc& mcc = sim.add<Mcc>(hal);
  Fd switch_fd{Board::io().open(Board::kHal, O_RDWR)};

  static Fd open_channel() { return Fd(Board::io().open(Board::kMccControl, O_RDWR | O_NONBLOCK)); }
  static int allocate(Fd const& fd, Board::MccAllocate record) {
    return Board::io().ioctl(fd.lowlevel_fd(), Board::MCC_ALLOCATE, &record) == 0 ? 0 : errno;
  }
  // An open with a channel of `mode`; its port, or -1.
  static int channel(Fd& fd, std::uint32_t mode = 0, std::uint32_t size = 512) {
    fd = open_channel();
    if (allocate(fd, {mode, size, 0, 1, 4}) != 0) return -1;
    return Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0);
  }
  void connect(std::uint32_t output, std::uint32_t input) {
    Board::MuxConnect record{output, input};
    ASSERT_EQ(Board::io().ioctl(switch_fd.lowlevel_fd(), Board::HAL_MUX_CONNECT, &record), 0);
  }
  static std::string read_frame(Fd const& fd) {
    char buffer[8192];
    ssize_t const got = Board::io().read(fd.lowlevel_fd(), buffer, sizeof buffer);
    if (got < 0) return "errno " + std::to_string(errno);
    return std::string(buffer, static_cast<std::size_t>(got));
  }
  Lines state(std::vector<std::string> args = {}) { return sim.command(Board::kMccControl, "state", args).lines; }
  std::string set(std::vector<std::string> args) { return sim.command(Board::kMccControl, "set", args).error; }
  Lines logged(std::string_view name) {
    Lines lines;
    for (BoardSim::Request const& entry : sim.requests(Board::kMccControl, name)) {
      std::ostringstream text;
      text << entry;
      lines.push_back(text.str().substr(text.str().find(' ') + 1));
    }
    return lines;
  }
};

TEST_F(MccTest, AllocationChecksItsRecordAndTakesTheLowestFreePort) {
  Fd fd = open_channel();
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0), -1);
  EXPECT_EQ(errno, EINVAL) << "no channel yet";
  EXPECT_EQ(allocate(fd, {4, 512, 0, 1, 1}), EINVAL) << "mode";
  EXPECT_EQ(allocate(fd, {0, 0, 0, 1, 1}), EINVAL) << "packet size 0";
  EXPECT_EQ(allocate(fd, {0, 4097, 0, 1, 1}), EINVAL) << "packet size";
  EXPECT_EQ(allocate(fd, {0, 512, 1, 1, 1}), EINVAL) << "reserved word";
  EXPECT_EQ(allocate(fd, {3, 4096, 0, 1, 4}), 0);
  EXPECT_EQ(allocate(fd, {0, 512, 0, 1, 1}), EBUSY) << "one channel per open";
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0), 1024);

  Fd second, third;
  EXPECT_EQ(channel(second, 2), 1025);
  EXPECT_EQ(channel(third, 1), 1026);
  second.close();
  Fd fourth;
  EXPECT_EQ(channel(fourth, 0), 1025) << "the last close freed port 1025";
  EXPECT_EQ(logged("ioctl MCC_ALLOCATE").front(),
            "/dev/mcc/ctl ioctl MCC_ALLOCATE mode=4 size=512 reserved=0 rx=1 tx=1 -> EINVAL");
  EXPECT_EQ(logged("ioctl MCC_TIMESLOT").back(), "/dev/mcc/ctl ioctl MCC_TIMESLOT value=0x0 result=1025");
  EXPECT_EQ(state(), (Lines{"port=1024 mode=3 size=4096 rx=1 tx=4 written=0",
                            "port=1025 mode=0 size=512 rx=1 tx=4 written=0",
                            "port=1026 mode=1 size=512 rx=1 tx=4 written=0", "free data=14 bri=7 transparent=16"}));
  EXPECT_EQ(state({"1026"}), (Lines{"port=1026 mode=1 size=512 rx=1 tx=4 written=0"}));
  EXPECT_FALSE(sim.command(Board::kMccControl, "state", {"1027"}).error.empty());
}

TEST_F(MccTest, EachKindHasItsPoolAndTheCapacityRequestCountsWhatIsFree) {
  ASSERT_EQ(set({"pool", "1", "0", "2"}), "");
  Fd data, ss7, bri, transparent;
  EXPECT_EQ(channel(data, 0), 1024);
  EXPECT_EQ(channel(ss7, 3), -1) << "SS7 channels come from the data pool";
  EXPECT_EQ(logged("ioctl MCC_ALLOCATE").back(),
            "/dev/mcc/ctl ioctl MCC_ALLOCATE mode=3 size=512 reserved=0 rx=1 tx=4 -> ENOSPC");
  EXPECT_EQ(channel(bri, 1), -1);
  EXPECT_EQ(channel(transparent, 2), 1025);

  // Any open asks, even a read-only one without a channel.
  Fd query(Board::io().open(Board::kMccControl, O_RDONLY));
  Board::MccCapacity capacity{9, 9, 9, 9};
  ASSERT_EQ(Board::io().ioctl(query.lowlevel_fd(), Board::MCC_CAPACITY, &capacity), 0);
  EXPECT_EQ(capacity.data, 0u);
  EXPECT_EQ(capacity.bri, 0u);
  EXPECT_EQ(capacity.transparent, 1u);
  EXPECT_EQ(capacity.reserved, 0u);
  EXPECT_EQ(logged("ioctl capacity"), (Lines{"/dev/mcc/ctl ioctl capacity data=0 bri=0 transparent=1"}));
  EXPECT_EQ(Board::io().ioctl_value(query.lowlevel_fd(), Board::MCC_CAPACITY, 0), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_NE(set({"pool", "1", "2"}), "");
}

TEST_F(MccTest, AFrameReachesTheChannelsTheSwitchFeedsFromItsWriter) {
  Fd a, b, c, idle;
  ASSERT_EQ(channel(a), 1024);
  ASSERT_EQ(channel(b), 1025);
  ASSERT_EQ(channel(c, 2, 8), 1026);
  connect(1025, 1024);  // b hears a
  connect(1026, 1024);  // so does c
  connect(1024, 1026);  // a hears c

  EXPECT_EQ(Board::io().write(a.lowlevel_fd(), "hello", 5), 5);
  EXPECT_EQ(read_frame(b), "hello");
  EXPECT_EQ(read_frame(c), "hello");
  EXPECT_EQ(read_frame(b), "errno " + std::to_string(EAGAIN)) << "one frame a read";
  EXPECT_EQ(read_frame(a), "errno " + std::to_string(EAGAIN)) << "nothing feeds a from a";
  EXPECT_EQ(Board::io().write(b.lowlevel_fd(), "xyz", 3), 3) << "nobody hears b";
  std::string const long_frame(513, 'x');
  EXPECT_EQ(Board::io().write(b.lowlevel_fd(), long_frame.data(), long_frame.size()), -1);
  EXPECT_EQ(errno, EMSGSIZE) << "over b's packet size";
  EXPECT_EQ(Board::io().write(c.lowlevel_fd(), "123456789", 9), 9) << "a transparent channel takes any length";
  EXPECT_EQ(read_frame(a), "123456789") << "within a's packet size: one record";
  EXPECT_EQ(Board::io().write(c.lowlevel_fd(), "", 0), 0);
  EXPECT_EQ(Board::io().write(c.lowlevel_fd(), nullptr, 0), 0) << "nothing from no buffer";
  EXPECT_EQ(read_frame(a), "errno " + std::to_string(EAGAIN)) << "no frame of no bytes";

  idle = open_channel();
  EXPECT_EQ(Board::io().write(idle.lowlevel_fd(), "x", 1), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(read_frame(idle), "errno " + std::to_string(EINVAL));
}

// A player's channel feeding a recorder's, as the voice slots open and allocate them.
TEST_F(MccTest, TransparentChannelsAreByteStreamsCountedAndKept) {
  Fd player(Board::io().open(Board::kMccControl, O_WRONLY | O_NONBLOCK));
  Fd recorder(Board::io().open(Board::kMccControl, O_RDONLY | O_NONBLOCK));
  ASSERT_EQ(allocate(player, {2, 1024, 0, 0, 5}), 0);
  ASSERT_EQ(allocate(recorder, {2, 1024, 0, 5, 0}), 0);
  connect(1025, 1024);

  std::string voice;
  for (int i = 0; i < 3000; ++i) voice += static_cast<char>(i * 7);
  EXPECT_EQ(Board::io().write(player.lowlevel_fd(), voice.data(), voice.size()), 3000) << "taken whole";
  EXPECT_EQ(read_frame(recorder), voice.substr(0, 1024));
  EXPECT_EQ(read_frame(recorder), voice.substr(1024, 1024));
  EXPECT_EQ(read_frame(recorder), voice.substr(2048)) << "records of the recorder's packet size";
  EXPECT_EQ(read_frame(player), "errno " + std::to_string(EBADF)) << "the player's open is write-only";
  EXPECT_EQ(Board::io().write(recorder.lowlevel_fd(), "x", 1), -1);
  EXPECT_EQ(errno, EBADF) << "the recorder's is read-only";
  std::string const write = logged("write").front();
  EXPECT_TRUE(write.starts_with("/dev/mcc/ctl write data=\"\\x00\\x07\\x0e\\x15\\x1c#*18?")) << write;
  EXPECT_TRUE(write.ends_with("\"... len=3000")) << "the head and the length: " << write;

  EXPECT_EQ(state({"1024"}), (Lines{"port=1024 mode=2 size=1024 rx=0 tx=5 written=3000"}));
  EXPECT_EQ(state({"1024", "data", "0", "4"}), (Lines{"00070e15"}));
  EXPECT_EQ(state({"1024", "data", "2998", "4096"}), (Lines{"fa01"})) << "up to the last byte";
  EXPECT_EQ(state({"1024", "data", "3000", "1"}), (Lines{""})) << "nothing past it";
  EXPECT_EQ(state({"1025", "data", "0", "4"}), (Lines{""})) << "nothing written on the recorder's";
  EXPECT_NE(sim.command(Board::kMccControl, "state", {"1024", "data", "0", "4097"}).error, "");
  EXPECT_NE(sim.command(Board::kMccControl, "state", {"1024", "data", "0"}).error, "");
  EXPECT_NE(set({"1025", "inject", std::string(2 * 1025, '0')}), "") << "a record over the packet size";

  recorder.close();
  EXPECT_EQ(state().size(), 2u) << "the recorder's channel went with its open";
  // The first MiB is kept; what comes after is only counted.
  std::string const block(1 << 20, 'z');
  EXPECT_EQ(Board::io().write(player.lowlevel_fd(), block.data(), block.size()), 1 << 20);
  EXPECT_EQ(state({"1024"}), (Lines{"port=1024 mode=2 size=1024 rx=0 tx=5 written=1051576"}));
  EXPECT_EQ(state({"1024", "data", "1048574", "4"}), (Lines{"7a7a"}));
}

TEST_F(MccTest, InjectedFramesAndTheLastCloseOfAChildsCopy) {
  Fd fd;
  ASSERT_EQ(channel(fd, 0, 4), 1024);
  EXPECT_EQ(set({"1024", "inject", "0102", "03"}), "");
  EXPECT_EQ(set({"1024", "inject"}), "");
  EXPECT_NE(set({"1024", "inject", "0102030405"}), "") << "over the packet size";
  EXPECT_NE(set({"1025", "inject", "01"}), "") << "no channel there";
  EXPECT_NE(set({"1024", "inject", "0g"}), "");
  EXPECT_EQ(read_frame(fd), std::string("\x01\x02\x03", 3));
  EXPECT_EQ(read_frame(fd), "") << "a zero-length frame reads as 0 bytes";
  EXPECT_EQ(mcc.inject(1024, "ab"), "");
  EXPECT_EQ(read_frame(fd), "ab");

  Fd copy = fd;  // as a child holds it
  fd.close();
  EXPECT_EQ(mcc.channels().size(), 1u) << "a copy keeps the channel";
  copy.close();
  EXPECT_TRUE(mcc.channels().empty());
  EXPECT_EQ(state(), (Lines{"free data=16 bri=8 transparent=16"}));
}

}  // namespace
}  // namespace test
