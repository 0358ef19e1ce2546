// server-sim's board, in an executable of its own: linking boardsim/daemon_board.cpp
// installs the stand-in for the whole process.
#include "boardsim/daemon_board.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iostream>
#include <sstream>
#include <thread>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "boardsim/server.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/boardsim_client.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

TEST(DaemonBoard, IsBehindTheSeamWhenMainRuns) {
  // Read before anything here names the daemon's stand-in.
  Board::Io* const installed = Board::install(nullptr);
  Board::install(installed);
  EXPECT_EQ(installed, &BoardSim::daemon_sim());
}

TEST(DaemonBoard, ModelsTheWatchdogAndTheSwitch) {
  BoardSim::daemon_sim().clear_requests();
  Fd hal(Board::io().open(Board::kHal, O_RDWR));
  ASSERT_TRUE(hal) << Errno();
  int type = 0;
  socklen_t size = sizeof type;
  ASSERT_EQ(::getsockopt(hal.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &size), 0);
  EXPECT_EQ(type, SOCK_SEQPACKET);
  Board::MuxWrite record{4, 0x44};
  EXPECT_EQ(Board::io().ioctl(hal.lowlevel_fd(), Board::HAL_MUX_WRITE, &record), 0);

  Fd wd(Board::io().open(Board::kWatchdog, O_WRONLY));
  ASSERT_TRUE(wd) << Errno();
  EXPECT_EQ(Board::io().write(wd.lowlevel_fd(), "START", 5), 5);
  EXPECT_EQ(BoardSim::daemon_sim().requests(Board::kHal, "ioctl write").size(), 1u);
}

TEST(DaemonBoard, NothingListensUntilStarted) {
  EXPECT_NONFATAL_FAILURE({ BoardSimClient client(::getpid()); }, "is not there");
  auto server = BoardSim::start_for_daemon();
  ASSERT_TRUE(server);
  BoardSimClient client(::getpid());
  EXPECT_EQ(client.ok("set hal 40 0x44"), Lines{});
  EXPECT_EQ(BoardSim::daemon_sim().command(Board::kHal, "state", {"40"}).lines,
            (Lines{"output=40 unset carries=0x44"}));
  server->stop();
}

// As server-sim -D does: the background child starts the thread, under its own pid.
TEST(DaemonBoard, StartedAfterAForkListensUnderTheChildsPid) {
  int ready[2], release[2];
  ASSERT_EQ(::pipe2(ready, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
  pid_t const child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    auto server = BoardSim::start_for_daemon();
    char const started = server ? 'y' : 'n';
    ssize_t const told = ::write(ready[1], &started, 1);
    char done;
    ssize_t const heard = ::read(release[0], &done, 1);  // the parent's close ends the wait
    server.reset();
    ::_exit(told == 1 && heard == 0 ? 0 : 1);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char started = 0;
  ASSERT_EQ(::read(ready[0], &started, 1), 1);
  EXPECT_EQ(started, 'y');
  {
    BoardSimClient client(child);
    EXPECT_EQ(client.ok("set hal 9 0x99"), Lines{});
    EXPECT_EQ(client.ok("state hal 9"), (Lines{"output=9 unset carries=0x99"}));
  }
  EXPECT_EQ(BoardSim::daemon_sim().command(Board::kHal, "state", {"9"}).lines,
            (Lines{"output=9 unset carries=0xff"}));  // the child's board, not this one
  EXPECT_NONFATAL_FAILURE({ BoardSimClient client(::getpid()); }, "is not there");
  ::close(release[1]);
  ::close(ready[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// As in server-sim -D: the daemon's error stream is a buffer of its own, unsynchronised
// with stdio, that the loop thread writes while the stand-in's thread reports refused
// deliveries. Under ThreadSanitizer any touch of the daemon's stream by the stand-in's
// thread is a race; its lines must reach descriptor 2 whole.
TEST(DaemonBoard, TheStandInsLinesNeverCrossTheDaemonsStreams) {
  std::ios::sync_with_stdio(false);
  std::ostringstream daemon_errors;
  std::streambuf* const saved = std::cerr.rdbuf(daemon_errors.rdbuf());
  char path[] = "/tmp/boardsim-lines-XXXXXX";
  int const lines = ::mkstemp(path);
  ASSERT_GE(lines, 0);
  ::unlink(path);
  int const saved_fd2 = ::dup(2);
  ::dup2(lines, 2);

  Fd hal(Board::io().open(Board::kHal, O_RDWR));  // never read: its queue fills up
  auto server = BoardSim::start_for_daemon();
  ASSERT_TRUE(server);
  std::atomic<bool> done{false};
  std::thread board_side([&] {
    BoardSimClient client(::getpid());
    for (int i = 0; i < 2000; ++i) client.command("deliver hal 0102030405060708");
    done = true;
  });
  int written = 0;
  while (!done) {
    std::cerr << "loop line " << written << std::endl;
    if (written++ % 64 == 0) {
      Board::MuxWrite record{4, 0x100};  // refused by the stand-in on this thread
      Board::io().ioctl(hal.lowlevel_fd(), Board::HAL_MUX_WRITE, &record);
    }
  }
  board_side.join();
  server->stop();
  std::cerr.rdbuf(saved);
  ::dup2(saved_fd2, 2);
  ::close(saved_fd2);

  std::string reported;
  char buf[65536];
  ::lseek(lines, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(lines, buf, sizeof buf)) > 0;) reported.append(buf, static_cast<std::size_t>(n));
  ::close(lines);
  EXPECT_NE(reported.find("boardsim: /dev/hal event of 8 bytes not delivered: "), std::string::npos);
  EXPECT_NE(reported.find(" /dev/hal ioctl write output=4 byte=0x100 -> EINVAL\n"), std::string::npos);
  std::istringstream each(reported);
  for (std::string line; std::getline(each, line);) EXPECT_EQ(line.rfind("boardsim: ", 0), 0u) << line;
  std::string const errors = daemon_errors.str();
  EXPECT_EQ(errors.find("boardsim"), std::string::npos) << "the stand-in wrote to the daemon's stream";
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), written);
}

}  // namespace
}  // namespace test
