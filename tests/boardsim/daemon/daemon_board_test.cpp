// server-sim's board, in an executable of its own: linking boardsim/daemon_board.cpp
// installs the stand-in for the whole process.
#include "boardsim/daemon_board.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
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

}  // namespace
}  // namespace test
