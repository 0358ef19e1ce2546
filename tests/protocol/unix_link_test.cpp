// Links over local stream sockets: the acceptor and the connector against socat as an
// independent peer, against each other, and against plain sockets for the paths and the
// retry delays.

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "foundation/clock.h"
#include "protocol/acceptor_unix.h"
#include "protocol/connector_unix.h"
#include "protocol/local_socket.h"
#include "tests/protocol/link_harness.h"
#include "tests/support/child_process.h"

namespace {

using test::Client;
using test::Recorder;
using test::run_real_until;
using test::run_until;

bool is_socket(std::string const& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// A plain listening socket at a path; it removes nothing that is there.
Fd listen_at(std::string const& path, int backlog = 4) {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  path.copy(a.sun_path, sizeof a.sun_path - 1);
  EXPECT_EQ(::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0) << path << ": " << Errno();
  EXPECT_EQ(::listen(fd.lowlevel_fd(), backlog), 0);
  return fd;
}

Fd connect_to(std::string const& path) {
  Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  path.copy(a.sun_path, sizeof a.sun_path - 1);
  if (::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return Fd();
  return fd;
}

void write_file(std::string const& path, std::string const& text) { std::ofstream(path) << text; }

// Counts the connections the acceptor refused; reachable accept for the pause test.
class Acceptor : public Control::AcceptorUnix {
public:
  using AcceptorUnix::AcceptorUnix;
  int refused = 0;
  int refuse_accepts = 0;  // accept calls to fail with EMFILE
  void accept_now() { OnSocketEvent(-1, POLLIN); }

protected:
  void ImplRefuseConnection() override { ++refused; }
  int DoAccept(int fd, sockaddr_un& peer, socklen_t& length) override {
    if (refuse_accepts > 0) {
      --refuse_accepts;
      errno = EMFILE;
      return -1;
    }
    return AcceptorUnix::DoAccept(fd, peer, length);
  }
};

class Connector : public Control::ConnectorUnix {
public:
  using ConnectorUnix::ConnectorUnix;
};

std::size_t count(Recorder const& r, std::string const& event) {
  return std::count(r.events.begin(), r.events.end(), event);
}

// ---------------------------------------------------------------- against socat

class UnixWithSocat : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(test::require_tool("socat", "socat"));
    ASSERT_FALSE(dir.path().empty());
  }
  // socat takes a TCP client on `port` and carries it to the acceptor's path, connecting
  // from `bind_path` when one is given.
  std::unique_ptr<test::ChildProcess> bridge(int port, std::string const& bind_path = "") {
    std::string target = "UNIX-CONNECT:" + path;
    if (!bind_path.empty()) target += ",bind=" + bind_path;
    auto child = std::make_unique<test::ChildProcess>(
        std::vector<std::string>{"socat", "TCP-LISTEN:" + std::to_string(port) + ",bind=127.0.0.1,reuseaddr", target},
        dir / "socat.out", dir / "socat.err");
    EXPECT_TRUE(test::wait_for_tcp_port(port)) << test::read_file(dir / "socat.err");
    return child;
  }

  test::TempDir dir{"unix-link"};
  std::string path = dir / "ctl.sock";
  test::StreamCapture streams;
};

TEST_F(UnixWithSocat, AcceptorEchoesFramesAndNamesThePeerByItsPath) {
  Acceptor acceptor(path);
  Recorder recorder(acceptor);
  recorder.echo = true;
  acceptor.Bind(&recorder);
  ASSERT_TRUE(acceptor.Activate());
  ASSERT_TRUE(is_socket(path));

  test::ReservedPort reserved;  // socat listens on it with reuseaddr
  int const port = reserved.port();
  std::string const client_path = dir / "client%s.sock";  // a percent sign is just a character
  auto socat = bridge(port, client_path);
  Client client(port);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(run_real_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(streams.out(), "new connection from " + client_path + "\n");
  EXPECT_EQ(acceptor.GetAddr(), client_path);

  std::string const whole = test::frame("first") + test::frame("") + test::frame(std::string(3000, 'z'));
  client.send_raw(whole.substr(0, 3));
  run_real_until([] { return false; }, 30);
  client.send_raw(whole.substr(3));
  ASSERT_TRUE(run_real_until([&] { return recorder.events.size() == 4; }));
  EXPECT_EQ(client.receive(3), (std::vector<std::string>{"first", "", std::string(3000, 'z')}));

  // socat ends when the client goes; the link ends with it and the acceptor listens on.
  client.close();
  ASSERT_TRUE(run_real_until([&] { return count(recorder, "disconnect") == 1; }));
  EXPECT_EQ(streams.err(), "control connection " + client_path + " closed.\n");
  EXPECT_EQ(acceptor.GetState(), Control::Service::State::Connecting);
  EXPECT_TRUE(socat->wait(2000));
  Fd again = connect_to(path);
  ASSERT_TRUE(again.is_valid());
  ASSERT_TRUE(run_real_until([&] { return acceptor.IsConnected(); }));
  EXPECT_NE(streams.out().find("new connection from \n"), std::string::npos) << "an unnamed client";
  acceptor.Deactivate();
  EXPECT_TRUE(is_socket(path)) << "the socket file stays";
}

TEST_F(UnixWithSocat, SecondPeerIsRefusedWhileALinkIsUp) {
  Acceptor acceptor(path);
  Recorder recorder(acceptor);
  acceptor.Bind(&recorder);
  acceptor.Activate();
  Fd first = connect_to(path);
  ASSERT_TRUE(run_real_until([&] { return acceptor.IsConnected(); }));

  test::ReservedPort reserved;  // socat listens on it with reuseaddr
  int const port = reserved.port();
  auto socat = bridge(port);
  Client second(port);
  ASSERT_TRUE(run_real_until([&] { return acceptor.refused == 1; }));
  EXPECT_NE(streams.err().find("refuse connection from \n"), std::string::npos) << streams.err();
  EXPECT_TRUE(second.sees_close()) << "socat passes the refusal on";
  EXPECT_TRUE(acceptor.IsConnected());
  acceptor.Deactivate();
}

TEST_F(UnixWithSocat, ConnectorTalksToASocatListener) {
  // socat listens on the path and hands every byte straight back.
  test::ChildProcess socat({"socat", "UNIX-LISTEN:" + path, "EXEC:cat"}, dir / "socat.out", dir / "socat.err");
  ASSERT_TRUE(test::wait_for_socket_file(path)) << test::read_file(dir / "socat.err");
  Connector connector(path);
  Recorder recorder(connector);
  connector.Bind(&recorder);
  ASSERT_TRUE(connector.Activate());
  EXPECT_TRUE(connector.IsConnected()) << "a local connect completes at once";
  EXPECT_EQ(streams.log(), "connected to " + path + "\n");
  EXPECT_EQ(connector.GetAddr(), path);
  connector.Send("ping", 4);
  connector.Send("", 0);
  ASSERT_TRUE(run_real_until([&] { return recorder.events.size() == 3; }));
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect", "message:ping", "message:"}));
  EXPECT_EQ(streams.err(), "");
  connector.Deactivate();
  EXPECT_TRUE(socat.wait(2000)) << "deactivation drops the link at once";
}

// ---------------------------------------------------------------- paths

class UnixPaths : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(dir.path().empty()); }
  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::TempDir dir{"unix-path"};
};

TEST_F(UnixPaths, StaleSocketIsReplacedButARegularFileIsNever) {
  std::string const path = dir / "ctl.sock";
  { Fd stale = listen_at(path); }  // closed, its file left behind
  ASSERT_TRUE(is_socket(path));
  Acceptor acceptor(path);
  Recorder recorder(acceptor);
  acceptor.Bind(&recorder);
  acceptor.Activate();
  EXPECT_EQ(streams.err(), "");
  Fd client = connect_to(path);
  ASSERT_TRUE(client.is_valid()) << "the new socket listens where the stale one was";
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  acceptor.Deactivate();

  std::string const file = dir / "precious";
  write_file(file, "keep me");
  Acceptor blocked(file);
  blocked.Activate();
  std::string const line = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(streams.err(), line);
  run_until([] { return false; }, 5000);
  EXPECT_EQ(streams.err(), line + line) << "retried every 5000 ms";
  EXPECT_EQ(test::read_file(file), "keep me");
  ::unlink(file.c_str());
  run_until([] { return false; }, 5000);
  EXPECT_EQ(streams.err(), line + line) << "bound at the next retry";
  EXPECT_TRUE(is_socket(file));
  blocked.Deactivate();
}

TEST_F(UnixPaths, LongPathsAreCutAlikeSoBothSidesMeet) {
  std::string long_path = dir / "";
  long_path += std::string(130 - long_path.size(), 'p');
  std::string const cut = long_path.substr(0, 107);
  { Fd stale = listen_at(cut); }
  std::string const local = dir / "near" + std::string(120, 'q');
  std::string const local_cut = local.substr(0, 107);

  Acceptor acceptor(long_path);
  Recorder accepted(acceptor);
  acceptor.Bind(&accepted);
  acceptor.Activate();
  EXPECT_EQ(streams.err(), "") << "the stale socket at the cut path was removed";
  Connector connector(long_path, local);
  connector.Activate();
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_TRUE(connector.IsConnected());
  EXPECT_EQ(acceptor.GetAddr(), local_cut) << "the connector bound its own end to the cut local path";
  EXPECT_TRUE(is_socket(cut));
  EXPECT_TRUE(is_socket(local_cut));
  connector.Deactivate();
  acceptor.Deactivate();
}

TEST_F(UnixPaths, ConnectorBindsItsLocalPathUnlessAFileIsThere) {
  std::string const path = dir / "ctl.sock";
  std::string const local = dir / "me.sock";
  Acceptor acceptor(path);
  Recorder accepted(acceptor);
  acceptor.Bind(&accepted);
  acceptor.Activate();

  { Fd stale = listen_at(local); }
  Connector named(path, local);
  named.Activate();
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  EXPECT_EQ(acceptor.GetAddr(), local);
  named.Deactivate();
  ASSERT_TRUE(run_until([&] { return count(accepted, "disconnect") == 1; }));

  std::string const file = dir / "precious";
  write_file(file, "keep me");
  streams.clear();
  Connector blocked(path, file);
  blocked.Activate();
  EXPECT_EQ(streams.err(), "can't bind to domain socket '" + file + "': \"Address already in use\n");
  EXPECT_EQ(test::read_file(file), "keep me");
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); })) << "the attempt goes on unbound";
  EXPECT_EQ(acceptor.GetAddr(), "");
  blocked.Deactivate();
  acceptor.Deactivate();
}

TEST(UnixPeerPath, ReadOnlyWithinTheRecordWhateverLengthTheKernelReports) {
  sockaddr_un full{};
  full.sun_family = AF_UNIX;
  std::fill(std::begin(full.sun_path), std::end(full.sun_path), 'f');  // no terminator at all
  EXPECT_EQ(Control::PeerPath(full, sizeof full + 40), std::string(sizeof full.sun_path, 'f'));
  EXPECT_EQ(Control::PeerPath(full, offsetof(sockaddr_un, sun_path) + 3), "fff");
  EXPECT_EQ(Control::PeerPath(full, sizeof(sa_family_t)), "") << "an unnamed peer";
  EXPECT_EQ(Control::LocalAddress(std::string(200, 'x')).sun_path, std::string(107, 'x'));
  EXPECT_EQ(Control::LocalAddress("a%sb%n").sun_path, std::string("a%sb%n"));
}

// ---------------------------------------------------------------- retries

class UnixTimed : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_FALSE(dir.path().empty()); }
  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::TempDir dir{"unix-retry"};
  std::string path = dir / "ctl.sock";
};

// Attempts show as lines; the time of each is noted when the error stream grows.
struct AttemptClock {
  explicit AttemptClock(test::StreamCapture& s) : streams(s) {}
  void sample() {
    std::string const err = streams.err();
    std::size_t const lines = std::count(err.begin(), err.end(), '\n');
    while (times.size() < lines) times.push_back(Mux::milliseconds());
  }
  std::vector<unsigned> gaps() const {
    std::vector<unsigned> out;
    for (std::size_t i = 1; i < times.size(); ++i) out.push_back(times[i] - times[i - 1]);
    return out;
  }
  test::StreamCapture& streams;
  std::vector<unsigned> times;
};

TEST_F(UnixTimed, ConnectorMissingPeerIsRetriedSevenTimesQuicklyThenEveryTwentySeconds) {
  Connector connector(path);
  AttemptClock attempts(streams);
  connector.Activate();
  ASSERT_TRUE(run_until(
      [&] {
        attempts.sample();
        return attempts.times.size() >= 10;
      },
      100000));
  EXPECT_EQ(attempts.gaps(), (std::vector<unsigned>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 20000, 20000}));
  std::string const line = "can't connect to " + path + " : No such file or directory\n";
  EXPECT_EQ(streams.err().substr(0, line.size()), line);
  EXPECT_EQ(connector.GetState(), Control::Service::State::Connecting);

  // A socket file nobody listens on is refused the same way.
  { Fd stale = listen_at(path); }
  streams.clear();
  attempts.times.clear();
  ASSERT_TRUE(run_until(
      [&] {
        attempts.sample();
        return attempts.times.size() >= 1;
      },
      30000));
  EXPECT_EQ(streams.err(), "can't connect to " + path + " : Connection refused\n");
  connector.Deactivate();
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
}

TEST_F(UnixTimed, ConnectorLostLinkIsTriedAgainAfterTenSeconds) {
  Fd listener = listen_at(path);
  Connector connector(path);
  Recorder recorder(connector);
  connector.Bind(&recorder);
  connector.Activate();
  ASSERT_TRUE(connector.IsConnected());
  Fd link(::accept(listener.lowlevel_fd(), nullptr, nullptr));
  link.close();
  ASSERT_TRUE(run_until([&] { return count(recorder, "disconnect") == 1; }));
  unsigned const lost = Mux::milliseconds();
  streams.clear();
  ASSERT_TRUE(run_until([&] { return connector.IsConnected(); }, 20000));
  EXPECT_EQ(Mux::milliseconds() - lost, 10000u);
  EXPECT_NE(streams.log().find("connected to " + path + "\n"), std::string::npos) << "no closing full stop";
  connector.Deactivate();
}

TEST_F(UnixTimed, ConnectorPeerThatHangsUpBeforeTheFirstPassIsRetriedAfterTenSeconds) {
  Connector connector(path);
  Recorder recorder(connector);
  connector.Bind(&recorder);
  {
    Fd listener = listen_at(path);
    connector.Activate();
    ASSERT_TRUE(connector.IsConnected());
    ::unlink(path.c_str());
  }  // the listener goes with the connection still in its backlog
  ASSERT_TRUE(run_until([&] { return count(recorder, "disconnect") == 1; }));
  unsigned const lost = Mux::milliseconds();
  EXPECT_NE(streams.err().find("fail to connect to " + path + "\n"), std::string::npos) << streams.err();
  Fd listener = listen_at(path);
  ASSERT_TRUE(run_until([&] { return connector.IsConnected(); }, 20000));
  EXPECT_EQ(Mux::milliseconds() - lost, 10000u) << "the disconnect handling sets the timer last";
  connector.Deactivate();
}

TEST_F(UnixTimed, AcceptorOutOfDescriptorsPausesTheListenerInsteadOfSpinning) {
  Acceptor acceptor(path);
  Recorder recorder(acceptor);
  acceptor.Bind(&recorder);
  acceptor.Activate();
  acceptor.refuse_accepts = 2;
  Fd client = connect_to(path);
  std::size_t const polls_before = poll.timeouts().size();
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  std::string const line = "can't accept connection: Too many open files\n";
  EXPECT_EQ(streams.err(), line + line);
  EXPECT_LE(poll.timeouts().size() - polls_before, 6u) << "one attempt a second";
  acceptor.Deactivate();
}

TEST_F(UnixTimed, AcceptorTakesNothingWhileTheLinkIsEnding) {
  Acceptor acceptor(path);
  Recorder recorder(acceptor);
  acceptor.Bind(&recorder);
  acceptor.Activate();
  Fd first = connect_to(path);
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  Fd newcomer;
  recorder.on_message = [&](std::string const&) {
    acceptor.Disconnect();
    newcomer = connect_to(path);  // a peer that comes back at once
    acceptor.accept_now();
  };
  std::string const bye = test::frame("bye");
  ASSERT_EQ(::write(first.lowlevel_fd(), bye.data(), bye.size()), ssize_t(bye.size()));
  ASSERT_TRUE(run_until([&] { return count(recorder, "disconnect") == 1; }));
  EXPECT_EQ(acceptor.refused, 0);
  ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); })) << "taken once the old link has ended";
  EXPECT_EQ(count(recorder, "connect"), 2u);
  acceptor.Deactivate();
}

}  // namespace
