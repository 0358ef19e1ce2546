// The connector against real loopback listeners, its retry delays on simulated time.

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "foundation/clock.h"
#include "protocol/connector_net.h"
#include "tests/protocol/link_harness.h"

namespace {

using test::Recorder;
using test::run_until;

// Records when each attempt is made; the connect call can be made to complete at once.
class Connector : public Control::ConnectorNet {
public:
  using ConnectorNet::ConnectorNet;
  std::vector<unsigned> attempts;  // Mux::milliseconds() of each connect
  bool complete_at_once = false;

protected:
  int DoConnect(int fd, INet4::Addr const& peer) override {
    attempts.push_back(Mux::milliseconds());
    if (!complete_at_once) return ConnectorNet::DoConnect(fd, peer);
    // What a local peer may do: the connect is done before the call returns.
    BlockMode(fd);
    int const result = ConnectorNet::DoConnect(fd, peer);
    NonBlockMode(fd);
    return result;
  }
};

// A listener the test opens and closes, whose accepted sockets it keeps.
struct Listener {
  explicit Listener(int port) : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    int const on = 1;
    ::setsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd.lowlevel_fd(), 4), 0);
  }
  Fd accept() { return Fd(::accept(fd.lowlevel_fd(), nullptr, nullptr)); }
  Fd fd;
};

class ConnectorTest : public ::testing::Test {
protected:
  // Gaps between consecutive attempts, in ms.
  std::vector<unsigned> gaps() const {
    std::vector<unsigned> out;
    for (std::size_t i = 1; i < connector.attempts.size(); ++i)
      out.push_back(connector.attempts[i] - connector.attempts[i - 1]);
    return out;
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::ReservedPort reserved;  // refuses connects until a listener takes it
  int port = reserved.port();
  std::string peer = "127.0.0.1:" + std::to_string(port);
  Connector connector{"127.0.0.1", static_cast<unsigned short>(port)};
  Recorder recorder{connector};
};

TEST_F(ConnectorTest, RefusedPeerIsRetriedSevenTimesQuicklyThenSlowly) {
  connector.Bind(&recorder);
  EXPECT_TRUE(connector.Activate());
  run_until([&] { return connector.attempts.size() >= 10; }, 100000);
  // On loopback the refusal arrives as an error event on the pending connect.
  EXPECT_EQ(gaps(), (std::vector<unsigned>{1000, 1000, 1000, 1000, 1000, 1000, 1000, 15000, 15000}));
  std::string const line = "fail to connect to " + peer + "\n";
  EXPECT_EQ(streams.err().substr(0, line.size()), line);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_EQ(connector.GetState(), Control::Service::State::Connecting);
  connector.Deactivate();
}

TEST_F(ConnectorTest, ReconnectsTenSecondsAfterTheLinkIsLost) {
  connector.Bind(&recorder);
  connector.Activate();
  run_until([&] { return connector.attempts.size() >= 9; }, 100000);  // the quick retries are spent

  Listener listener(port);
  ASSERT_TRUE(run_until([&] { return connector.IsConnected(); }, 20000));
  EXPECT_NE(streams.out().find("connected to " + peer + ".\n"), std::string::npos);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect"}));

  // The peer takes the link, talks, and goes away.
  Fd link = listener.accept();
  recorder.echo = true;
  std::string const hello = test::frame("hello");
  ASSERT_EQ(::write(link.lowlevel_fd(), hello.data(), hello.size()), ssize_t(hello.size()));
  ASSERT_TRUE(run_until([&] { return recorder.events.size() == 2; }));
  char echoed[16];
  EXPECT_EQ(::read(link.lowlevel_fd(), echoed, sizeof echoed), 9);
  link.close();
  ASSERT_TRUE(run_until([&] { return recorder.events.size() == 3; }));
  EXPECT_EQ(recorder.events.back(), "disconnect");
  unsigned const lost = Mux::milliseconds();
  std::size_t const before = connector.attempts.size();
  ASSERT_TRUE(run_until([&] { return connector.IsConnected(); }, 20000));
  ASSERT_EQ(connector.attempts.size(), before + 1);
  EXPECT_EQ(connector.attempts.back() - lost, 10000u);
  connector.Deactivate();
}

TEST_F(ConnectorTest, ConnectThatCompletesAtOnce) {
  Listener listener(port);
  connector.complete_at_once = true;
  connector.Bind(&recorder);
  connector.Activate();
  EXPECT_TRUE(connector.IsConnected()) << "no wait for the socket to become writable";
  EXPECT_EQ(streams.log(), "already connected to " + peer + "\n");
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect"}));
  Fd link = listener.accept();
  connector.Send("x", 1);
  char got[8];
  EXPECT_EQ(::read(link.lowlevel_fd(), got, sizeof got), 5);
  connector.Deactivate();
  EXPECT_EQ(::read(link.lowlevel_fd(), got, sizeof got), 0) << "deactivation drops the link at once";
}

TEST_F(ConnectorTest, PeerTextThatIsNoAddressIsNeverConnectedTo) {
  Connector named("gateway.example", static_cast<unsigned short>(port));
  named.Activate();
  EXPECT_TRUE(named.attempts.empty()) << "no connect to 0.0.0.0";
  EXPECT_EQ(streams.err(), "can't connect to gateway.example:" + std::to_string(port) + " : Invalid argument\n");
  run_until([&] { return false; }, 2500);
  EXPECT_EQ(named.GetState(), Control::Service::State::Connecting) << "retried like a failed connect";
  named.Deactivate();
}

TEST_F(ConnectorTest, AddressTextThatIsNoAddressIsNeverConnectedTo) {
  for (std::string const& text : std::vector<std::string>{"gateway.example:" + std::to_string(port), "127.0.0.1:99999", "nowhere"}) {
    streams.clear();
    Connector named(text);
    named.Activate();
    EXPECT_TRUE(named.attempts.empty()) << text << ": no connect to 0.0.0.0";
    EXPECT_EQ(streams.err(), "can't connect to " + text + " : Invalid argument\n");
    run_until([&] { return false; }, 2500);
    EXPECT_TRUE(named.attempts.empty()) << text << ": nor at a retry";
    named.Deactivate();
  }
}

TEST_F(ConnectorTest, DeactivationWhilePendingDropsTimerEventAndSocket) {
  connector.Activate();
  ASSERT_EQ(connector.attempts.size(), 1u);
  connector.Deactivate();
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
  EXPECT_EQ(multiplexer.polled_handlers().count(), 0u);
  run_until([] { return false; }, 30000);
  EXPECT_EQ(connector.attempts.size(), 1u);
}

TEST(Connector, AddressTextGivesHostAndPort) {
  test::StreamCapture streams;
  Connector c("127.0.0.1:4321");
  c.Activate();
  EXPECT_EQ(streams.err(), "");
  c.Deactivate();
  ASSERT_EQ(c.attempts.size(), 1u);
}

}  // namespace
