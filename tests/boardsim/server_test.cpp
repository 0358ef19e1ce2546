#include "boardsim/server.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <mutex>
#include <regex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "boardsim/hal.h"
#include "boardsim/sim.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace test {
namespace {

using BoardSim::Server;
using Lines = std::vector<std::string>;
using namespace std::chrono_literals;

// A plain connection, for what the client helper does not do on purpose.
Fd raw_connect(std::string const& name) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  auto const length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
  if (::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), length) != 0) return Fd();
  return fd;
}

void send_all(int fd, std::string const& text) {
  for (std::size_t sent = 0; sent < text.size();) {
    ssize_t const n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    ASSERT_GT(n, 0) << Errno();
    sent += static_cast<std::size_t>(n);
  }
}

// Everything until the server closes the connection, or what came within `limit`.
std::string receive_until_closed(int fd, std::chrono::milliseconds limit = 5000ms) {
  std::string text;
  auto const deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return text + "<open>";
    char buf[4096];
    ssize_t const got = ::recv(fd, buf, sizeof buf, 0);
    if (got <= 0) return text;
    text.append(buf, static_cast<std::size_t>(got));
  }
}

std::string server_name() { return "boardsim-" + std::to_string(::getpid()); }

bool answers_within(int fd, std::chrono::milliseconds limit) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, static_cast<int>(limit.count())) == 1;
}

class ServerTest : public BoardTest {
protected:
  BoardSim::Hal& hal = sim.add<BoardSim::Hal>();
  BoardSim::Watchdog& watchdog = sim.add<BoardSim::Watchdog>();
  std::unique_ptr<Server> server = Server::start(sim);

  void SetUp() override { ASSERT_TRUE(server) << "the control socket did not start"; }

  static int write_byte(int fd, std::uint32_t output, std::uint32_t byte) {
    Board::MuxWrite record{output, byte};
    return Board::io().ioctl(fd, Board::HAL_MUX_WRITE, &record);
  }
};

TEST_F(ServerTest, ServesTheAbstractAddressNamedAfterItsProcess) {
  EXPECT_EQ(server->name(), "boardsim-" + std::to_string(::getpid()));
  BoardSimClient client(::getpid());
  ASSERT_TRUE(client.connected());
  EXPECT_EQ(client.ok("state hal 1"), (Lines{"output=1 unset carries=0xff"}));
  EXPECT_EQ(client.command("set hal 1 0x5a"), (Lines{"ok"}));
  EXPECT_EQ(hal.carries(1), 0x5au);
  EXPECT_EQ(client.command("bogus"), (Lines{"error unknown command bogus"}));

  // Nothing on the file system: the name lives in the abstract namespace only.
  EXPECT_NE(::access(server->name().c_str(), F_OK), 0);
}

TEST_F(ServerTest, AnswersPipelinedCommandsInOrder) {
  Fd fd = raw_connect(server->name());
  ASSERT_TRUE(fd) << Errno();
  send_all(fd.lowlevel_fd(), "state hal 1\nset hal 1 7\r\nstate hal 1\nnope\n");
  ::shutdown(fd.lowlevel_fd(), SHUT_WR);
  EXPECT_EQ(receive_until_closed(fd.lowlevel_fd()),
            "output=1 unset carries=0xff\nok\nok\noutput=1 unset carries=0x07\nok\nerror unknown command nope\n");
}

TEST_F(ServerTest, LastLineWithoutItsLineBreakIsAnsweredAtHangUp) {
  Fd fd = raw_connect(server->name());
  ASSERT_TRUE(fd);
  send_all(fd.lowlevel_fd(), "state hal 2");
  EXPECT_FALSE(answers_within(fd.lowlevel_fd(), 100ms));
  ::shutdown(fd.lowlevel_fd(), SHUT_WR);
  EXPECT_EQ(receive_until_closed(fd.lowlevel_fd()), "output=2 unset carries=0xff\nok\n");
}

TEST_F(ServerTest, LineTooLongEndsTheConnection) {
  Fd fd = raw_connect(server->name());
  ASSERT_TRUE(fd);
  send_all(fd.lowlevel_fd(), "log " + std::string(Server::kMaxLine, 'x'));
  EXPECT_EQ(receive_until_closed(fd.lowlevel_fd()), "error line too long\n");

  Fd exact = raw_connect(server->name());
  ASSERT_TRUE(exact);
  send_all(exact.lowlevel_fd(), "log " + std::string(Server::kMaxLine - 4, 'x') + "\n");
  ::shutdown(exact.lowlevel_fd(), SHUT_WR);
  EXPECT_EQ(receive_until_closed(exact.lowlevel_fd()), "dropped 0\nok\n");
}

TEST_F(ServerTest, ClientThatDoesNotReadHoldsUpNobodyElse) {
  Fd fd(Board::io().open(Board::kHal, O_RDWR));
  for (std::uint32_t port = 0; port < 2000; ++port) ASSERT_EQ(write_byte(fd.lowlevel_fd(), port, port & 0xff), 0);
  Fd greedy = raw_connect(server->name());
  ASSERT_TRUE(greedy);
  // Each answer is some 100 kB: far more than the socket holds.
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "log\n";
  send_all(greedy.lowlevel_fd(), lines);

  BoardSimClient client(::getpid());
  EXPECT_EQ(client.ok("state hal 3"), (Lines{"output=3 byte=0x03 carries=0x03"}));
}

TEST_F(ServerTest, ClientsBeyondTheLimitWaitForAPlace) {
  std::vector<Fd> held;
  for (std::size_t i = 0; i < Server::kMaxClients; ++i) {
    held.push_back(raw_connect(server->name()));
    ASSERT_TRUE(held.back());
    send_all(held.back().lowlevel_fd(), "clear\n");
    ASSERT_TRUE(answers_within(held.back().lowlevel_fd(), 5000ms));
  }
  Fd waiting = raw_connect(server->name());  // queued by the kernel
  ASSERT_TRUE(waiting);
  send_all(waiting.lowlevel_fd(), "state hal 1\n");
  EXPECT_FALSE(answers_within(waiting.lowlevel_fd(), 200ms));
  held.front().close();
  ASSERT_TRUE(answers_within(waiting.lowlevel_fd(), 5000ms));
  ::shutdown(waiting.lowlevel_fd(), SHUT_WR);
  EXPECT_EQ(receive_until_closed(waiting.lowlevel_fd()), "output=1 unset carries=0xff\nok\n");
}

TEST_F(ServerTest, CommandsRunWhileTheDaemonDrivesTheBoard) {
  std::atomic<bool> stop{false};
  std::atomic<int> answered{0};
  std::vector<std::string> odd;
  std::thread tester([&] {
    BoardSimClient client(::getpid());
    std::regex const state("output=1 (unset|byte=0x[0-9a-f]{2}) carries=0x[0-9a-f]{2}");
    while (!stop.load()) {
      Lines const lines = client.ok("state hal 1");
      if (lines.size() != 1 || !std::regex_match(lines[0], state)) odd.push_back(lines.empty() ? "" : lines[0]);
      client.ok("log hal ioctl write");
      client.ok("watchdog");
      client.ok("set hal 2 0x22");
      ++answered;
    }
  });
  Fd wd(Board::io().open(Board::kWatchdog, O_WRONLY));
  ASSERT_EQ(Board::io().write(wd.lowlevel_fd(), "START", 5), 5);
  constexpr int kWrites = 500;  // five requests each stay within the log
  for (int i = 0; i < kWrites; ++i) {
    Fd fd(Board::io().open(Board::kHal, O_RDWR));
    ASSERT_EQ(write_byte(fd.lowlevel_fd(), 1, static_cast<std::uint32_t>(i & 0xff)), 0);
    Board::MuxRead read{2, 0xff};
    ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), Board::HAL_MUX_READ, &read), 0);
    EXPECT_TRUE(read.byte == 0xff || read.byte == 0x22) << read.byte;
    ASSERT_EQ(Board::io().write(wd.lowlevel_fd(), "PING", 4), 4);
    if (i == kWrites / 2) {
      // Make sure the two overlap for a while however the scheduler runs them.
      auto const deadline = std::chrono::steady_clock::now() + 5s;
      while (answered.load() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
    }
  }
  stop = true;
  tester.join();
  EXPECT_GE(answered.load(), 3);
  EXPECT_TRUE(odd.empty()) << odd.front();

  BoardSimClient client(::getpid());
  EXPECT_EQ(client.requests("hal", "ioctl write").size(), std::size_t{kWrites});
  EXPECT_EQ(client.requests("hal", "close").size(), std::size_t{kWrites});
  EXPECT_EQ(client.ok("state hal 1"), (Lines{"output=1 byte=0xf3 carries=0xf3"}));
  EXPECT_EQ(watchdog.writes().size(), std::size_t{kWrites + 1});
}

TEST_F(ServerTest, CloseSeenByTheStandInThreadIsLogged) {
  int const fd = Board::io().open(Board::kHal, O_RDWR);
  ASSERT_GE(fd, 0);
  ::close(fd);
  BoardSimClient client(::getpid());
  EXPECT_EQ(client.requests("hal"), (Lines{"/dev/hal open flags=O_RDWR", "/dev/hal close"}));
}

TEST_F(ServerTest, DeliveredEventWakesABlockedRead) {
  Fd fd(Board::io().open(Board::kHal, O_RDWR));
  ASSERT_TRUE(fd);
  unsigned char event[8] = {};
  ssize_t got = 0;
  std::thread reader([&] { got = Board::io().read(fd.lowlevel_fd(), event, sizeof event); });
  BoardSimClient client(::getpid());
  EXPECT_EQ(client.command("deliver hal 0a0b0c"), (Lines{"ok"}));
  reader.join();
  ASSERT_EQ(got, 3);
  EXPECT_EQ(event[0], 0x0a);
  EXPECT_EQ(event[2], 0x0c);
}

// --- Signals --------------------------------------------------------------------------

std::atomic<pthread_t> g_handled_on{};
std::atomic<int> g_handled{0};

void note_thread(int) {
  g_handled_on.store(::pthread_self());
  g_handled.fetch_add(1);
}

TEST_F(ServerTest, SignalsAreNeverHandledOnTheStandInThread) {
  struct sigaction action {}, previous{};
  action.sa_handler = note_thread;
  ::sigemptyset(&action.sa_mask);
  ASSERT_EQ(::sigaction(SIGUSR1, &action, &previous), 0);
  g_handled = 0;

  // Started from a thread that takes every signal; its own mask stays as it was.
  sigset_t usr1, before, after;
  ::sigemptyset(&usr1);
  ::sigaddset(&usr1, SIGUSR1);
  ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &usr1, &before), 0);
  server->stop();
  server = Server::start(sim);
  ASSERT_TRUE(server);
  ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, nullptr, &after), 0);
  for (int sig = 1; sig < SIGRTMIN; ++sig) {
    EXPECT_EQ(::sigismember(&after, sig), sig != SIGUSR1 && ::sigismember(&before, sig)) << sig;
  }

  // With SIGUSR1 blocked here, the stand-in's thread is the only one that could take it.
  ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &usr1, nullptr), 0);
  ASSERT_EQ(::kill(::getpid(), SIGUSR1), 0);
  BoardSimClient client(::getpid());
  EXPECT_EQ(client.command("clear"), (Lines{"ok"}));  // the thread is alive and served
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(g_handled.load(), 0) << "a signal ran its handler on the stand-in's thread";
  sigset_t pending;
  ASSERT_EQ(::sigpending(&pending), 0);
  EXPECT_TRUE(::sigismember(&pending, SIGUSR1));

  ASSERT_EQ(::pthread_sigmask(SIG_UNBLOCK, &usr1, nullptr), 0);  // now it reaches this thread
  EXPECT_EQ(g_handled.load(), 1);
  EXPECT_TRUE(::pthread_equal(g_handled_on.load(), ::pthread_self()));
  ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
  ::sigaction(SIGUSR1, &previous, nullptr);
}

// --- Stopping -------------------------------------------------------------------------

TEST_F(ServerTest, StopClosesTheSocketAndJoinsAndCanStartAgain) {
  Fd connected = raw_connect(server->name());
  ASSERT_TRUE(connected);
  std::string const name = server->name();
  server->stop();
  EXPECT_EQ(receive_until_closed(connected.lowlevel_fd()), "");  // the connection ends too
  EXPECT_FALSE(raw_connect(name));
  EXPECT_EQ(errno, ECONNREFUSED);
  server->stop();  // again: nothing to do

  server = Server::start(sim);
  ASSERT_TRUE(server);
  BoardSimClient client(::getpid());
  EXPECT_EQ(client.command("clear"), (Lines{"ok"}));
  server.reset();  // the destructor stops it
  EXPECT_FALSE(raw_connect(name));
}

TEST_F(ServerTest, SecondServerOfTheProcessIsRefused) {
  DiagCapture cerr;
  EXPECT_EQ(Server::start(sim), nullptr);
  EXPECT_NE(cerr.text().find("boardsim: control socket " + server->name() + ": "), std::string::npos) << cerr.text();
}

// A device that notes on which thread it hears of each close.
class CloseWatch : public BoardSim::Model {
public:
  CloseWatch() : Model("/dev/boardsim-closes") {}
  std::vector<std::thread::id> closes() const {
    std::lock_guard const held(m_mutex);
    return m_closes;
  }

protected:
  void close(Open&) override {
    std::lock_guard const held(m_mutex);
    m_closes.push_back(std::this_thread::get_id());
  }

private:
  mutable std::mutex m_mutex;
  std::vector<std::thread::id> m_closes;
};

// The daemon closes a device and makes no further request: the stand-in's thread hears
// the hang-up and retires the open as it happens.
TEST_F(ServerTest, TheThreadRetiresAnOpenTheDaemonClosed) {
  auto& watch = sim.add<CloseWatch>();
  int const fd = Board::io().open("/dev/boardsim-closes", O_RDWR);
  ASSERT_GE(fd, 0);
  ::close(fd);
  auto const deadline = std::chrono::steady_clock::now() + 5s;
  while (watch.closes().empty() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(watch.closes(), std::vector<std::thread::id>{server->thread_id()});
}

// An accept that fails for want of memory or descriptors leaves the client waiting and
// the listener readable: the thread rests a second rather than spin on it.
TEST(ServerAcceptFailure, PausesTheListenerInsteadOfSpinning) {
  std::string const failed = in_own_process([] {
    Failures f;
    BoardSim::Sim sim;
    DiagCapture lines;
    f.check(fail_system_call(__NR_accept4, ENOMEM), "seccomp filter installed");
    auto server = Server::start(sim);
    f.check(server != nullptr, "control socket started");
    if (!server) return f.result();
    Fd waiting = raw_connect(server->name());
    f.check(waiting.is_valid(), "client queued");

    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(1500ms);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    server.reset();

    auto const cpu_us = [](rusage const& r) {
      return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000L + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    long const used_ms = (cpu_us(after) - cpu_us(before)) / 1000;
    f.check(used_ms < 300, "CPU used while the client waited: " + std::to_string(used_ms) + " ms");
    std::string const text = lines.text();
    std::string const line = "boardsim: control socket " + server_name() + ": accept: Cannot allocate memory\n";
    std::size_t count = 0;
    for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
    // Tried at once and after each second's pause: twice in 1.5 s, not thousands of times.
    f.check(count >= 1 && count <= 2, "accept failure lines: " + text);
    return f.result();
  });
  EXPECT_EQ(failed, "");
}

// --- Bounded records ------------------------------------------------------------------

TEST(ServerBounds, LogsKeepTheirBoundsOnALongRun) {
  FakeClock clock;
  BoardSim::Sim sim(8);
  sim.add<BoardSim::Hal>();
  auto& watchdog = sim.add<BoardSim::Watchdog>(4);
  Board::Io* const previous = Board::install(&sim);
  auto server = Server::start(sim);
  ASSERT_TRUE(server);
  Fd wd(Board::io().open(Board::kWatchdog, O_WRONLY));
  ASSERT_EQ(Board::io().write(wd.lowlevel_fd(), "START", 5), 5);
  for (int i = 0; i < 10000; ++i) {
    clock.advance_ms(1);
    ASSERT_EQ(Board::io().write(wd.lowlevel_fd(), "PING", 4), 4);
  }
  std::string const t = std::to_string(Mux::milliseconds() - 3);
  BoardSimClient client(::getpid());
  Lines const log = client.ok("log");
  ASSERT_EQ(log.size(), 9u);
  EXPECT_EQ(log.back(), "dropped 9994");  // the open, START and 10000 pings, less 8
  Lines const writes = client.ok("watchdog");
  ASSERT_EQ(writes.size(), 7u);
  EXPECT_EQ(writes[2], t + " PING");
  EXPECT_EQ(writes.back(), "dropped 9997");
  EXPECT_EQ(watchdog.writes().size(), 4u);
  server.reset();
  Board::install(previous);
}

// --- The client helper ----------------------------------------------------------------

TEST(BoardSimClientTest, MissingSocketFailsTheTestNamingIt) {
  EXPECT_NONFATAL_FAILURE({ BoardSimClient client(::getpid()); },
                          "control socket \"boardsim-" + std::to_string(::getpid()) + "\"");
}

TEST(BoardSimClientTest, WaitsForASocketThatComesLate) {
  BoardSim::Sim sim;
  std::unique_ptr<Server> server;
  std::thread starter([&] {
    std::this_thread::sleep_for(100ms);
    server = Server::start(sim);
  });
  BoardSimClient client(::getpid(), 5000ms);
  starter.join();
  ASSERT_TRUE(server);
  EXPECT_TRUE(client.connected());
  EXPECT_EQ(client.command("clear"), (Lines{"ok"}));
}

TEST(BoardSimClientTest, AnswerThatIsNotOkFailsTheTest) {
  BoardSim::Sim sim;
  auto server = Server::start(sim);
  ASSERT_TRUE(server);
  BoardSimClient client(::getpid());
  EXPECT_NONFATAL_FAILURE(client.ok("state hal 1"), "ended with \"error no model of /dev/hal\", not \"ok\"");
}

}  // namespace
}  // namespace test
