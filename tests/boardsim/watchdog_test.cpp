#include "boardsim/watchdog.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "foundation/clock.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using BoardSim::Request;
using BoardSim::Watchdog;
using namespace std::literals;

class WatchdogTest : public BoardTest {
protected:
  Watchdog& watchdog = sim.add<Watchdog>();

  static int open_watchdog(int flags = O_WRONLY) { return Board::io().open(Board::kWatchdog, flags); }
  static ssize_t send(int fd, std::string_view text) {
    return Board::io().write(fd, text.data(), text.size());
  }
  static unsigned now() { return Mux::milliseconds(); }
};

TEST_F(WatchdogTest, RecordsEachWriteWithItsTime) {
  Fd fd(open_watchdog());
  ASSERT_TRUE(fd) << Errno();
  EXPECT_EQ(watchdog.state(), Watchdog::State::idle);

  unsigned const t0 = now();
  ASSERT_EQ(send(fd.lowlevel_fd(), "START"), 5);
  EXPECT_EQ(watchdog.state(), Watchdog::State::started);
  clock.advance_ms(5000);
  ASSERT_EQ(send(fd.lowlevel_fd(), "PING"), 4);
  clock.advance_ms(5000);  // onto the 32-bit wrap
  ASSERT_EQ(send(fd.lowlevel_fd(), "PING"), 4);
  clock.advance_ms(2500);
  ASSERT_EQ(send(fd.lowlevel_fd(), "STOP"), 4);
  EXPECT_EQ(watchdog.state(), Watchdog::State::stopped);

  EXPECT_EQ(watchdog.writes(),
            (std::vector<Watchdog::Write>{{"START", t0}, {"PING", t0 + 5000}, {"PING", 0}, {"STOP", 2500}}));
  EXPECT_EQ(sim.requests(Board::kWatchdog, "write").back(),
            (Request{Board::kWatchdog, "write", R"(data="STOP")", 0, 2500}));
}

TEST_F(WatchdogTest, RefusesEveryOtherPayload) {
  Fd fd(open_watchdog());
  ASSERT_EQ(send(fd.lowlevel_fd(), "START"), 5);
  DiagCapture cerr;
  for (std::string_view const bad :
       {"PONG"sv, "PING\n"sv, "PIN"sv, "ping"sv, "STOPSTOP"sv, "START\0"sv, ""sv}) {
    SCOPED_TRACE(std::string(bad));
    EXPECT_EQ(send(fd.lowlevel_fd(), bad), -1);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(watchdog.writes().size(), 1u);
  EXPECT_EQ(watchdog.state(), Watchdog::State::started);
  auto const writes = sim.requests(Board::kWatchdog, "write");
  ASSERT_EQ(writes.size(), 8u);
  EXPECT_EQ(writes[6], (Request{Board::kWatchdog, "write", R"(data="START\x00")", EINVAL, now()}));
  EXPECT_NE(cerr.text().find("boardsim: "), std::string::npos);
  EXPECT_NE(cerr.text().find(R"(/dev/misc/gw-wd write data="PING\x0a" -> EINVAL)"), std::string::npos)
      << cerr.text();
}

TEST_F(WatchdogTest, OpensOnlyForWritingAndCountsOpens) {
  DiagCapture cerr;
  for (int const flags : {O_RDONLY, O_RDWR}) {
    EXPECT_EQ(open_watchdog(flags), -1);
    EXPECT_EQ(errno, EINVAL);
  }
  EXPECT_EQ(watchdog.open_count(), 0);

  int const first = open_watchdog();
  int const second = open_watchdog(O_WRONLY | O_NONBLOCK);
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);
  int const dup = ::dup(first);
  EXPECT_EQ(watchdog.open_count(), 2);
  ::close(first);
  EXPECT_EQ(watchdog.open_count(), 2);  // the dup keeps the open
  ::close(dup);
  EXPECT_EQ(watchdog.open_count(), 1);
  ::close(second);
  EXPECT_EQ(watchdog.open_count(), 0);
  EXPECT_EQ(sim.requests(Board::kWatchdog, "close").size(), 2u);
}

TEST_F(WatchdogTest, EveryIoctlIsEnottyAndReadingIsEbadf) {
  Fd fd(open_watchdog());
  DiagCapture cerr;
  int arg = 0;
  EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), 0x80045705, &arg), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), 0, 0), -1);
  EXPECT_EQ(errno, ENOTTY);
  char buf[8];
  EXPECT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(sim.requests(Board::kWatchdog).size(), 4u);  // open, two ioctls, read
}

TEST_F(WatchdogTest, InjectedFaultsFailTheOpenAndOneWrite) {
  sim.fail(Board::kWatchdog, "open", EBUSY, BoardSim::Repeat::once);
  EXPECT_EQ(open_watchdog(), -1);
  EXPECT_EQ(errno, EBUSY);
  EXPECT_EQ(watchdog.open_count(), 0);
  Fd fd(open_watchdog());
  ASSERT_TRUE(fd);

  ASSERT_EQ(send(fd.lowlevel_fd(), "START"), 5);
  sim.fail(Board::kWatchdog, "write", EIO, BoardSim::Repeat::once);
  clock.advance_ms(1000);
  EXPECT_EQ(send(fd.lowlevel_fd(), "PING"), -1);
  EXPECT_EQ(errno, EIO);
  clock.advance_ms(1000);
  EXPECT_EQ(send(fd.lowlevel_fd(), "PING"), 4);

  // The failed ping never reached the watchdog; the log has it.
  auto const writes = watchdog.writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[1], (Watchdog::Write{"PING", now()}));
  EXPECT_EQ(sim.requests(Board::kWatchdog, "write")[1],
            (Request{Board::kWatchdog, "write", R"(data="PING")", EIO, now() - 1000}));
}

TEST(WatchdogWrites, KeepsTheMostRecentAndCountsTheDropped) {
  FakeClock clock;
  BoardSim::Sim sim;
  auto& watchdog = sim.add<Watchdog>(2);
  Fd fd(sim.open(Board::kWatchdog, O_WRONLY));
  for (std::string_view const text : {"START"sv, "PING"sv, "PING"sv, "STOP"sv}) {
    clock.advance_ms(10);
    ASSERT_EQ(sim.write(fd.lowlevel_fd(), text.data(), text.size()), ssize_t(text.size()));
  }
  unsigned const t = Mux::milliseconds();
  EXPECT_EQ(watchdog.writes(), (std::vector<Watchdog::Write>{{"PING", t - 10}, {"STOP", t}}));
  EXPECT_EQ(watchdog.dropped_writes(), 2u);
  EXPECT_EQ(watchdog.state(), Watchdog::State::stopped);
}

}  // namespace
}  // namespace test
