// The controller link over real loopback TCP: acceptor, connection service and check.

#include <gtest/gtest.h>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

#include "protocol/acceptor_net.h"
#include "tests/protocol/link_harness.h"
#include "tests/support/test_files.h"

namespace {

using test::Client;
using test::Recorder;
using test::run_until;

// The checking acceptor with its socket readings replaceable and its hooks reachable.
class Acceptor : public Control::AcceptorNetCheckConnection {
public:
  using AcceptorNetCheckConnection::AcceptorNetCheckConnection;
  using AcceptorNetCheckConnection::TcpState;
  std::function<bool(int, TcpState&)> tcp_state;
  std::function<bool(int, int&)> socket_error;
  int refuse_accepts = 0;  // accept calls to fail with refuse_errno
  int refuse_errno = EMFILE;
  int accept_calls = 0;
  void accept_now() { OnSocketEvent(-1, POLLIN); }

protected:
  bool ReadTcpState(int fd, TcpState& out) override {
    return tcp_state ? tcp_state(fd, out) : AcceptorNetCheckConnection::ReadTcpState(fd, out);
  }
  bool ReadSocketError(int fd, int& error) override {
    return socket_error ? socket_error(fd, error) : AcceptorNetCheckConnection::ReadSocketError(fd, error);
  }
  int DoAccept(int fd, INet4::Addr& peer) override {
    ++accept_calls;
    if (refuse_accepts > 0) {
      --refuse_accepts;
      errno = refuse_errno;
      return -1;
    }
    return AcceptorNetCheckConnection::DoAccept(fd, peer);
  }
};

class AcceptorTest : public ::testing::Test {
protected:
  AcceptorTest() {
    acceptor.service_name("server");
    acceptor.Bind(&recorder);
    EXPECT_TRUE(acceptor.Activate());
  }
  ~AcceptorTest() override { acceptor.Deactivate(); }

  std::string peer_of(Client const& c) {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(c.fd(), reinterpret_cast<sockaddr*>(&a), &len);
    return "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
  }
  bool link_up() {
    return run_until([&] { return acceptor.IsConnected(); });
  }
  std::size_t count(std::string const& event) {
    return std::count(recorder.events.begin(), recorder.events.end(), event);
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::ReservedPort reserved;  // the acceptor binds it with SO_REUSEADDR
  int port = reserved.port();
  Acceptor acceptor{port};
  Recorder recorder{acceptor};
};

TEST_F(AcceptorTest, EchoesFramesHoweverTheyAreSplit) {
  recorder.echo = true;
  Client client(port);
  ASSERT_TRUE(link_up());
  EXPECT_EQ(streams.out(), "new connection from " + peer_of(client) + "\n");
  EXPECT_EQ(acceptor.GetAddr(), peer_of(client));

  std::string const whole = test::frame("first") + test::frame("second") + test::frame("");
  client.send_raw(whole.substr(0, 2));
  run_until([] { return false; }, 50);
  client.send_raw(whole.substr(2, 7));
  run_until([] { return false; }, 50);
  client.send_raw(whole.substr(9));
  run_until([&] { return recorder.events.size() >= 4; });
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect", "message:first", "message:second", "message:"}));
  EXPECT_EQ(client.receive(3), (std::vector<std::string>{"first", "second", ""}));
}

TEST_F(AcceptorTest, SecondControllerIsRefusedAndTheLinkIsWatched) {
  Client first(port);
  ASSERT_TRUE(link_up());
  Client second(port);
  ASSERT_TRUE(run_until([&] { return streams.err().find("refuse connection from " + peer_of(second)) != std::string::npos; }))
      << "refused";
  EXPECT_TRUE(second.sees_close());
  EXPECT_EQ(acceptor.check_state(), Acceptor::CheckConnectionState::CheckConnection);
  // The next check finds the live link Open and ends the watch.
  EXPECT_NE(streams.err().find("CheckConnectionState CheckConnection\n"), std::string::npos);
  streams.clear();
  ASSERT_TRUE(run_until([&] { return acceptor.check_state() == Acceptor::CheckConnectionState::Idle; }, 1500));
  EXPECT_EQ(streams.err(), "CheckConnectionState Idle\n");
  EXPECT_TRUE(acceptor.IsConnected());
}

TEST_F(AcceptorTest, PeerCloseEndsTheLinkOnTheNextPassAndTheNextControllerIsServed) {
  Client first(port);
  ASSERT_TRUE(link_up());
  std::string const peer = peer_of(first);
  first.close();
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }));
  EXPECT_EQ(streams.err(), "control connection " + peer + " closed.\n");
  EXPECT_EQ(acceptor.GetState(), Control::Service::State::Connecting);

  recorder.echo = true;
  Client next(port);
  ASSERT_TRUE(link_up());
  next.send("again");
  run_until([&] { return count("message:again") == 1; });
  EXPECT_EQ(next.receive(1), (std::vector<std::string>{"again"}));
}

TEST_F(AcceptorTest, DisconnectIsSeenByThePeerAtOnce) {
  Client client(port);
  ASSERT_TRUE(link_up());
  recorder.on_message = [&](std::string const&) {
    acceptor.Disconnect();
    acceptor.Disconnect();  // a second one before the deferred end does nothing
    EXPECT_EQ(acceptor.GetState(), Control::Service::State::Deactivating);
    EXPECT_EQ(count("disconnect"), 0u) << "never inside the call that ended the link";
  };
  client.send_raw(test::frame("bye") + test::frame("after"));  // one segment
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }));
  EXPECT_TRUE(client.sees_close(500)) << "the acceptor's own duplicate is released too";
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"connect", "message:bye", "disconnect"}))
      << "nothing is passed on once the link is ending";
}

TEST_F(AcceptorTest, DisconnectWithoutALinkDoesNothing) {
  acceptor.Disconnect();
  run_until([] { return false; }, 100);
  EXPECT_TRUE(recorder.events.empty());
  EXPECT_EQ(acceptor.GetState(), Control::Service::State::Connecting);
}

TEST_F(AcceptorTest, CheckClosesALinkThatLeftTheEstablishedState) {
  Client client(port);
  ASSERT_TRUE(link_up());
  acceptor.tcp_state = [](int, Acceptor::TcpState& s) {
    s.state = TCP_CLOSE_WAIT;
    s.ca_state = 0;
    return true;
  };
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }, 1500));
  std::string const err = streams.err();
  EXPECT_NE(err.find("connection from " + peer_of(client) + " closed: tcp socket change state.\n"), std::string::npos)
      << err;
  EXPECT_NE(err.find("CheckConnectionState Idle\n"), std::string::npos);
  EXPECT_TRUE(client.sees_close(500));
}

TEST_F(AcceptorTest, WatchedLinkWithAbnormalCongestionStateIsDroppedAtTheSecondCheck) {
  Client first(port);
  ASSERT_TRUE(link_up());
  int checks = 0;
  acceptor.tcp_state = [&](int, Acceptor::TcpState& s) {
    ++checks;
    s.state = TCP_ESTABLISHED;
    s.ca_state = 4;  // loss
    return true;
  };
  Client second(port);
  ASSERT_TRUE(run_until([&] { return acceptor.check_state() == Acceptor::CheckConnectionState::CheckConnection; }));
  int const before = checks;
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }, 5000));
  EXPECT_EQ(checks - before, 2) << "dropped at the second check in a row";
  EXPECT_NE(streams.err().find("closed: tcp socket change ca_state.\n"), std::string::npos);
  EXPECT_TRUE(first.sees_close(500));
}

TEST_F(AcceptorTest, PendingSocketErrorClosesTheLink) {
  Client client(port);
  ASSERT_TRUE(link_up());
  acceptor.socket_error = [](int, int& e) {
    e = ECONNRESET;
    return true;
  };
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }, 1500));
  EXPECT_NE(streams.err().find("connection from " + peer_of(client) + " closed: Connection reset by peer\n"),
            std::string::npos);
}

TEST_F(AcceptorTest, WriteTimeOutEndsTheLink) {
  Client client(port, 4096);  // a controller that stops reading
  ASSERT_TRUE(link_up());
  std::string const big(60000, 'x');
  struct Flood {
    Control::Service& service;
    std::string const& body;
    Timer timer;
    void go() {
      // Until the kernel's buffers are full and one Send waits out its second.
      for (int i = 0; i < 1000 && service.IsConnected(); ++i) service.Send(body.data(), int(body.size()));
    }
  } flood{acceptor, big, {}};
  flood.timer.set(1, &Flood::go, &flood);
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }));
  EXPECT_NE(streams.err().find("SockStream[server]: write timeout"), std::string::npos);
  EXPECT_EQ(acceptor.GetOverflowCounter(), 1u);
  EXPECT_TRUE(client.sees_close());
}

TEST_F(AcceptorTest, NothingIsAcceptedWhileTheLinkIsEnding) {
  Client first(port);
  ASSERT_TRUE(link_up());
  std::unique_ptr<Client> newcomer;
  recorder.on_message = [&](std::string const& body) {
    if (body != "end") return;
    acceptor.Disconnect();
    // A controller reconnects at once, and the listening socket's turn comes while the
    // old link is still ending.
    newcomer = std::make_unique<Client>(port);
    acceptor.accept_now();
  };
  first.send("end");
  ASSERT_TRUE(run_until([&] { return count("disconnect") == 1; }));
  EXPECT_EQ(streams.err().find("refuse connection"), std::string::npos);
  // Taken once the deferred end has run.
  ASSERT_TRUE(link_up());
  EXPECT_EQ(count("connect"), 2u);
  recorder.echo = true;
  newcomer->send("hi");
  run_until([&] { return count("message:hi") == 1; });
  EXPECT_EQ(newcomer->receive(1), (std::vector<std::string>{"hi"}));
}

TEST_F(AcceptorTest, SendOutsideALinkAndOversizedSendsAreRefused) {
  acceptor.Send("x", 1);
  EXPECT_EQ(streams.err(), "Control::Service::Send() ignore Send request in Connecting state.\n");
  streams.clear();
  Client client(port);
  ASSERT_TRUE(link_up());
  std::string const big(Control::Service::kMaxMessage + 1, 'x');
  acceptor.Send(big.data(), int(big.size()));
  acceptor.Send("x", -1);
  std::string const err = streams.err();
  EXPECT_NE(err.find("refuse a message of 65532 bytes"), std::string::npos) << err;
  EXPECT_NE(err.find("refuse a message of -1 bytes"), std::string::npos) << err;
  std::string const largest(Control::Service::kMaxMessage, 'y');
  acceptor.Send(largest.data(), int(largest.size()));
  auto const got = client.receive(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), largest.size());
}

TEST_F(AcceptorTest, SendWithoutAPacketBufferDropsTheMessage) {
  Client client(port);
  ASSERT_TRUE(link_up());
  std::vector<Packet> held = test::take_every_packet_buffer();
  EXPECT_NO_THROW(acceptor.Send("x", 1));
  EXPECT_EQ(streams.err(), "send fail\n");
  held.clear();
  acceptor.Send("y", 1);
  EXPECT_EQ(client.receive(1), (std::vector<std::string>{"y"}));
}

TEST_F(AcceptorTest, DeactivateStopsListeningButLeavesTheLink) {
  recorder.echo = true;
  Client client(port);
  ASSERT_TRUE(link_up());
  acceptor.Deactivate();
  EXPECT_EQ(acceptor.GetState(), Control::Service::State::Idle);
  Client refused(port);
  EXPECT_FALSE(refused.connected()) << "nobody listens any more";
  client.send("still");
  run_until([&] { return count("message:still") == 1; }, 100);
  EXPECT_EQ(count("message:still"), 1u);
}

TEST_F(AcceptorTest, OutOfDescriptorsPausesTheListenerInsteadOfSpinning) {
  acceptor.refuse_accepts = 3;
  Client client(port);
  std::size_t const polls_before = poll.timeouts().size();
  ASSERT_TRUE(link_up());
  std::string const line = "can't accept connection: Too many open files\n";
  EXPECT_EQ(streams.err(), line + line + line);
  // One attempt a second: the pending connection does not wake every pass.
  EXPECT_LE(poll.timeouts().size() - polls_before, 8u);
  EXPECT_EQ(acceptor.accept_calls, 5);  // three refused, the connection, then nothing pending
}

TEST_F(AcceptorTest, EveryOtherAcceptFailurePausesTheListenerToo) {
  acceptor.refuse_errno = ENOBUFS;
  acceptor.refuse_accepts = 2;
  Client client(port);
  std::size_t const polls_before = poll.timeouts().size();
  ASSERT_TRUE(link_up());
  std::string const line = "can't accept connection: No buffer space available\n";
  EXPECT_EQ(streams.err(), line + line);
  EXPECT_LE(poll.timeouts().size() - polls_before, 6u) << "one attempt a second";
}

TEST_F(AcceptorTest, AClientThatGaveUpIsNoReasonToPause) {
  for (int const error : {ECONNABORTED, EINTR}) {
    acceptor.refuse_errno = error;
    acceptor.refuse_accepts = 1;
    Client client(port);
    ASSERT_TRUE(run_until([&] { return acceptor.IsConnected(); }, 100)) << error;
    EXPECT_EQ(streams.err().find("can't accept"), std::string::npos) << streams.err();
    acceptor.Disconnect();
    run_until([&] { return !acceptor.IsConnected(); }, 100);
  }
}

TEST(Acceptor, PortInUseIsRetriedEveryFiveSeconds) {
  test::FakeClock clock;
  test::SimulatedPoll poll(clock);
  test::StreamCapture streams;
  Fd holder(::socket(AF_INET, SOCK_STREAM, 0));
  int const port = test::listen_on_free_port([&](int p) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(p));
    return ::bind(holder.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
           ::listen(holder.lowlevel_fd(), 1) == 0;
  });
  ASSERT_GT(port, 0);

  Acceptor acceptor(port);
  Recorder recorder(acceptor);
  acceptor.Bind(&recorder);
  EXPECT_TRUE(acceptor.Activate());
  std::string const line = "can't bind to socket: \"Address already in use\"  waiting...\n";
  EXPECT_EQ(streams.err(), line);
  run_until([] { return false; }, 10000);
  EXPECT_EQ(streams.err(), line + line + line);
  holder.close();
  run_until([] { return false; }, 5000);
  EXPECT_EQ(streams.err(), line + line + line) << "listening after the next retry";
  Client client(port);
  EXPECT_TRUE(run_until([&] { return acceptor.IsConnected(); }));
  acceptor.Deactivate();
}

TEST(ServiceState, Texts) {
  EXPECT_STREQ(Control::GetTextNotation(Control::Service::State::Idle), "Idle");
  EXPECT_STREQ(Control::GetTextNotation(Control::Service::State::Deactivating), "Deactivating");
  EXPECT_STREQ(Control::GetTextNotation(static_cast<Control::Service::State::Type>(7)), "Unknown");
}

}  // namespace

