// The TPKT tracer against real loopback clients: framing limits, replies and broadcasts,
// a receiver that closes its sender, dead clients during a broadcast, and socat as an
// independent client.

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <sys/syscall.h>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/tpkt_tracer.h"
#include "tests/protocol/link_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/own_process.h"

namespace {

using test::Client;
using test::run_until;

std::string bytes(std::initializer_list<int> octets) {
  std::string out;
  for (int o : octets) out.push_back(static_cast<char>(o));
  return out;
}

struct Receiver : TPKTTracer::Sink {
  void OnFrame(std::uint8_t const* body, unsigned length) override {
    frames.emplace_back(reinterpret_cast<char const*>(body), length);
    if (then) then(frames.back());
  }
  std::vector<std::string> frames;
  std::function<void(std::string const&)> then;
};

class Tracer : public ::testing::Test {
protected:
  void SetUp() override {
    tracer.receiver(&receiver);
    port = test::listen_on_free_port([&](int p) { return tracer.Listen(static_cast<std::uint16_t>(p)); });
    ASSERT_GT(port, 0);
  }
  // Runs the loop until `n` clients are accepted.
  bool clients(std::size_t n) {
    return run_until([&] { return tracer.clients() == n; }, 1000);
  }
  void send(std::string const& body) {
    tracer.Send(reinterpret_cast<std::uint8_t const*>(body.data()), static_cast<unsigned>(body.size()));
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  int port = -1;
  Receiver receiver;
  TPKTTracer tracer;
};

TEST_F(Tracer, FramesAreReassembledAndEmptyOnesDeliverNothing) {
  Client client(port);
  ASSERT_TRUE(clients(1));
  client.send_raw(bytes({3, 0, 0, 4}));
  client.send_raw(bytes({3, 0}));
  run_until([] { return false; }, 50);
  client.send_raw(bytes({0, 8}));
  run_until([] { return false; }, 50);
  client.send_raw("abcd" + test::frame("two") + test::frame(std::string(512, 'm')));
  run_until([&] { return receiver.frames.size() == 3; }, 1000);
  EXPECT_EQ(receiver.frames, (std::vector<std::string>{"abcd", "two", std::string(512, 'm')}));
  EXPECT_EQ(tracer.clients(), 1u);
}

TEST_F(Tracer, ClientsThatBreakTheFramingAreClosed) {
  std::vector<std::string> const bad = {
      bytes({3, 0, 2, 5}) + std::string(513, 'x'),  // a body over 512 octets
      bytes({4, 0, 0, 5, 'x'}),                     // not version 3
      bytes({3, 1, 0, 5, 'x'}),                     // reserved octet set
      bytes({3, 0, 0, 3}),                          // shorter than its header
  };
  for (std::string const& frame : bad) {
    Client client(port);
    ASSERT_TRUE(clients(1));
    client.send_raw(frame);
    EXPECT_TRUE(run_until([&] { return tracer.clients() == 0; }, 1000)) << test::printable(frame.substr(0, 4));
    EXPECT_TRUE(client.sees_close(500));
  }
  EXPECT_TRUE(receiver.frames.empty());
  EXPECT_EQ(streams.err(), "") << "closed without a message";
}

TEST_F(Tracer, RepliesGoToTheSenderAndOtherSendsToEveryone) {
  Client a(port), b(port);
  ASSERT_TRUE(clients(2));
  receiver.then = [&](std::string const& body) { send("re:" + body); };
  b.send("from b");
  run_until([&] { return receiver.frames.size() == 1; }, 1000);
  EXPECT_EQ(b.receive(1), (std::vector<std::string>{"re:from b"}));
  send("all");
  EXPECT_EQ(a.receive(1), (std::vector<std::string>{"all"})) << "a got no reply to b";
  EXPECT_EQ(b.receive(1), (std::vector<std::string>{"all"}));
}

TEST_F(Tracer, TwoClientsWaitingAreBothTakenInOnePass) {
  Client a(port), b(port);
  auto local = [](Client const& c) {
    sockaddr_in s{};
    socklen_t len = sizeof s;
    ::getsockname(c.fd(), reinterpret_cast<sockaddr*>(&s), &len);
    return "127.0.0.1:" + std::to_string(ntohs(s.sin_port));
  };
  std::size_t passes = 0;
  poll.before_poll = [&] { ++passes; };
  ASSERT_TRUE(clients(2));
  EXPECT_EQ(passes, 1u);
  EXPECT_EQ(streams.log().substr(0, streams.log().find("Mux")),
            "ACP connection open from " + local(a) + "\nACP connection open from " + local(b) + "\n");
}

TEST_F(Tracer, OutOfDescriptorsPausesTheListenerInsteadOfSpinning) {
  Client client(port);
  std::string const failure = test::in_own_process([&] {
    test::Failures f;
    f.check(test::fail_system_call(__NR_accept4, EMFILE), "seccomp filter installed");
    std::size_t passes = 0;
    poll.before_poll = [&] {
      if (++passes > 1000) multiplexer.terminate();  // spinning: end the run, not the test's time
    };
    run_until([] { return false; }, 2500);
    f.check(passes <= 10, "the waiting client woke " + std::to_string(passes) + " passes");
    // One attempt a second.
    std::string const line = "can't accept connection: Too many open files\n";
    f.equal(streams.err(), line + line + line, "error stream");
    return f.result();
  });
  EXPECT_EQ(failure, "");
  EXPECT_TRUE(clients(1)) << "taken when accept works";
}

TEST_F(Tracer, ReceiverMayCloseTheSenderInsideItsFrame) {
  Client client(port);
  ASSERT_TRUE(clients(1));
  receiver.then = [&](std::string const&) { tracer.CloseConnection(tracer.current()); };
  client.send_raw(test::frame("one") + test::frame("two"));  // both in one read
  run_until([&] { return tracer.clients() == 0; }, 1000);
  EXPECT_EQ(receiver.frames, (std::vector<std::string>{"one"}));
  EXPECT_TRUE(client.sees_close(500));
}

TEST_F(Tracer, BroadcastGoesOnPastAClientThatIsGone) {
  // The backlog holds one waiting client (and the kernel one more): connect one by one.
  Client a(port), b(port);
  ASSERT_TRUE(clients(2));
  Client c(port);
  ASSERT_TRUE(clients(3));
  // b vanishes with a reset: the tracer's send to it fails and closes it mid-broadcast.
  linger const reset{1, 0};
  ::setsockopt(b.fd(), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
  b.close();
  send("one");
  EXPECT_EQ(tracer.clients(), 2u);
  send("two");
  EXPECT_EQ(a.receive(2), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(c.receive(2), (std::vector<std::string>{"one", "two"}));
}

TEST_F(Tracer, OversizedSendIsRefused) {
  Client client(port);
  ASSERT_TRUE(clients(1));
  send(std::string(TPKTTracer::kMaxSend + 1, 'x'));
  EXPECT_EQ(streams.err(), "TPKTTracer::Send() refuse a message of 65532 bytes (at most 65531 fit a frame)\n");
  send(std::string(TPKTTracer::kMaxSend, 'y'));
  auto const got = client.receive(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].size(), TPKTTracer::kMaxSend) << "the first thing the client sees is the largest frame";
}

TEST_F(Tracer, PortInUseIsRefused) {
  TPKTTracer second;
  EXPECT_FALSE(second.Listen(static_cast<std::uint16_t>(port)));
  EXPECT_EQ(streams.err(), "");
}

// Without SIGPIPE ignored (the daemon ignores it, this test's process does too), a send to
// a vanished client must still only close that client.
TEST(TracerSignals, SendToAClosedClientRaisesNoSignal) {
  std::string const failure = test::in_own_process(
      [] {
        std::signal(SIGPIPE, SIG_DFL);
        test::Failures f;
        test::FakeClock clock;
        test::SimulatedPoll poll(clock);
        test::StreamCapture streams;
        TPKTTracer tracer;
        int const port =
            test::listen_on_free_port([&](int p) { return tracer.Listen(static_cast<std::uint16_t>(p)); });
        f.check(port > 0, "listen");
        {
          Client client(port);
          run_until([&] { return tracer.clients() == 1; }, 1000);
        }
        // The first send draws the peer's reset; a later one fails with EPIPE.
        std::string const body = "x";
        for (int i = 0; i < 100 && tracer.clients() == 1; ++i) {
          tracer.Send(reinterpret_cast<std::uint8_t const*>(body.data()), 1);
          ::usleep(1000);
        }
        f.equal(tracer.clients(), 0u, "the dead client is closed");
        return f.result();
      },
      30);
  EXPECT_EQ(failure, "");
}

// socat as an independent client: it sends the frames read from a file and writes what
// comes back into another; the receiver answers each frame.
TEST(TracerWithSocat, AnswersAnIndependentClient) {
  ASSERT_NO_FATAL_FAILURE(test::require_tool("socat", "socat"));
  test::TempDir dir("tracer-socat");
  test::StreamCapture streams;
  TPKTTracer tracer;
  Receiver receiver;
  tracer.receiver(&receiver);
  receiver.then = [&](std::string const& body) {
    std::string const answer = "ok " + std::to_string(body.size());
    tracer.Send(reinterpret_cast<std::uint8_t const*>(answer.data()), static_cast<unsigned>(answer.size()));
  };
  int const port = test::listen_on_free_port([&](int p) { return tracer.Listen(static_cast<std::uint16_t>(p)); });
  ASSERT_GT(port, 0);
  std::vector<std::string> const bodies = {"status", "", std::string(512, 's'), bytes({3, 0, 0, 4})};
  {
    std::ofstream in(dir / "in", std::ios::binary);
    for (std::string const& b : bodies) in << test::frame(b);
  }
  test::ChildProcess socat({"socat", "-t", "1", "STDIO", "TCP:127.0.0.1:" + std::to_string(port)}, dir / "out",
                           dir / "err", dir / "in");
  int status = 0;
  ASSERT_TRUE(test::run_real_until([&] { return socat.ended(&status); }, 10000)) << test::read_file(dir / "err");
  EXPECT_EQ(test::describe_status(status), "exit status 0") << test::read_file(dir / "err");
  EXPECT_EQ(receiver.frames, (std::vector<std::string>{"status", std::string(512, 's'), bytes({3, 0, 0, 4})}));
  EXPECT_EQ(test::read_file(dir / "out"), test::frame("ok 6") + test::frame("ok 512") + test::frame("ok 4"));
  EXPECT_EQ(streams.log().rfind("ACP connection open from 127.0.0.1:", 0), 0u) << streams.log();
  test::run_real_until([&] { return tracer.clients() == 0; }, 2000);
  EXPECT_EQ(tracer.clients(), 0u) << "socat's close ends the client";
}

}  // namespace
