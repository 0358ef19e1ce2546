// The socket stream layer on real socket pairs, driven by the real loop.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "boardsim/watchdog.h"
#include "foundation/event.h"
#include "protocol/strm_protocol.h"
#include "tests/support/board_fixture.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/test_files.h"

namespace {

struct Owner : ProtocolsList {
  Owner() { strm = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol)); }
  void on_message(Packet& p) override {
    received += std::string(reinterpret_cast<char const*>(p.cdata()), p.length());
    multiplexer.terminate();
  }
  void on_deactivated(Protocol* layer, ProtocolStatus status) override {
    reports.push_back(std::string(layer->name().name()) + ":" + status->message());
    multiplexer.terminate();
  }
  StrmProtocol* strm;
  std::string received;
  std::vector<std::string> reports;
};

struct Pair {
  Pair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
    ours = Fd(fds[0]);
    peer = Fd(fds[1]);
  }
  void send(std::string const& text) { ASSERT_EQ(::write(peer.lowlevel_fd(), text.data(), text.size()), ssize_t(text.size())); }
  Fd ours, peer;
};

class StrmTest : public test::BoardTest {
protected:
  std::string errors() {
    std::string text = err.str();
    err.str("");
    return text;
  }
  BoardSim::Watchdog& watchdog = sim.add<BoardSim::Watchdog>();
  test::SimulatedPoll poll{clock};
  Owner owner;
  Pair pair;
  std::ostringstream err;
  std::ostringstream logged;
  std::streambuf* saved_err = std::cerr.rdbuf(err.rdbuf());
  std::streambuf* saved_log = std::clog.rdbuf(logged.rdbuf());
  ~StrmTest() override {
    std::cerr.rdbuf(saved_err);
    std::clog.rdbuf(saved_log);
  }
};

TEST_F(StrmTest, ActivationWithoutSocketFailsTheLink) {
  owner.strm->activate();
  EXPECT_EQ(owner.reports, (std::vector<std::string>{"StrmProtocol:fd not attached"}));
}

TEST_F(StrmTest, HandsUpWhatOneReadReturns) {
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  pair.send("hello");
  multiplexer.run(false, true);
  EXPECT_EQ(owner.received, "hello");
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_EQ(owner.strm->get_read_measure().count(), 1u);
}

TEST_F(StrmTest, PeerShutdownIsAReadError) {
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  ::shutdown(pair.peer.lowlevel_fd(), SHUT_WR);
  multiplexer.run(false, true);
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].rfind("StrmProtocol:read error: ", 0), 0u) << owner.reports[0];
  EXPECT_FALSE(owner.strm->opened());
}

TEST_F(StrmTest, HangUpWithDataReportsTheHangUpAndReadsNothing) {
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  pair.send("lost");
  pair.peer.close();
  multiplexer.run(false, true);
  ASSERT_EQ(owner.reports.size(), 1u);
  EXPECT_EQ(owner.reports[0].rfind("StrmProtocol:pollhup: ", 0), 0u) << owner.reports[0];
  EXPECT_EQ(owner.received, "");
}

// Drains the socket through its own duplicate before the stream layer gets its turn.
struct Thief {
  void on(int fd, short revents) {
    if (!(revents & POLLIN)) return;
    char buf[64];
    taken += static_cast<int>(::read(fd, buf, sizeof buf));
  }
  int taken = 0;
};

TEST_F(StrmTest, SpuriousWakeUpChangesNothing) {
  Thief thief;
  Event steal;
  steal.Bind("Thief::on", &Thief::on, &thief);
  steal.Schedule(pair.ours, POLLIN);
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  pair.send("gone");
  test::StopAfter stop(10);
  multiplexer.run(false, true);
  EXPECT_EQ(thief.taken, 4);
  EXPECT_TRUE(owner.reports.empty());
  EXPECT_TRUE(owner.strm->opened());
  EXPECT_EQ(owner.strm->get_read_measure().count(), 1u) << "one recv, answered EAGAIN";
}

TEST_F(StrmTest, WritesWholePackets) {
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  Packet empty;
  owner.strm->prepare_head(empty);
  owner.strm->message(empty);
  Packet p;
  owner.strm->prepare_head(p);
  p.put(std::string("abc"));
  owner.strm->message(p);
  char buf[16];
  EXPECT_EQ(::read(pair.peer.lowlevel_fd(), buf, sizeof buf), 4);
  EXPECT_EQ(std::string(buf, 4), "\x03" "abc");
  EXPECT_EQ(owner.strm->get_write_measure().count(), 2u);
  EXPECT_EQ(errors(), "");
}

// Writes 60000 bytes into a socket whose send buffer holds far fewer, from a timer.
struct BigWriter {
  StrmProtocol* strm;
  Timer timer;
  void go() {
    Packet p;
    strm->prepare_head(p);
    p.put(60000);
    strm->message(p);
  }
};

TEST_F(StrmTest, FullSocketTimesOutAfterOneSecondWithTheWatchdogFed) {
  int const small = 4096;
  ::setsockopt(pair.ours.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  owner.strm->service_name("server");
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  BigWriter writer{owner.strm, {}};
  writer.timer.set(10, &BigWriter::go, &writer);
  unsigned const start = Mux::milliseconds();
  multiplexer.run(true, true);
  EXPECT_EQ(Mux::milliseconds() - start, 1010u) << "the write waits out its whole second, no more";
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{10, 1000})) << "the loop's wait, then the write's";
  EXPECT_EQ(owner.reports, (std::vector<std::string>{"StrmProtocol:write timeout"}));
  EXPECT_EQ(owner.strm->GetOverflowCounter(), 1u);
  std::string const text = errors();
  EXPECT_NE(text.find("SockStream[server]: write timeout, sendbuf="), std::string::npos) << text;
  EXPECT_NE(text.find(", recvbuf="), std::string::npos);
  // The loop's ping at the first pass, then one before and one after the wait.
  auto const writes = watchdog.writes();
  ASSERT_EQ(writes.size(), 5u);
  EXPECT_EQ(writes[2].text, "PING");
  EXPECT_EQ(writes[3].text, "PING");
  EXPECT_EQ(writes[4].text, "STOP");
}

TEST_F(StrmTest, FullSocketThatDrainsWithinTheSecondIsWrittenWhole) {
  int const small = 4096;
  ::setsockopt(pair.ours.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  std::size_t drained = 0;
  unsigned waits = 0;
  bool writer_started = false;
  auto const drain = [&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(pair.peer.lowlevel_fd(), buf, sizeof buf)) > 0;) drained += static_cast<std::size_t>(n);
  };
  // The peer reads only while the layer waits, 50 ms into each wait.
  poll.before_poll = [&] {
    if (!writer_started || poll.timeouts().back() > 1000) return;  // the loop's own wait
    ++waits;
    clock.advance_ms(50);
    drain();
  };
  BigWriter writer{owner.strm, {}};
  writer.timer.set(10, &BigWriter::go, &writer);
  test::StopAfter stop(5000);
  writer_started = true;
  multiplexer.run(false, true);
  drain();  // what the last write left queued
  EXPECT_EQ(drained, 60000u);
  EXPECT_GT(waits, 1u);
  EXPECT_TRUE(owner.reports.empty()) << owner.reports.front();
  EXPECT_EQ(owner.strm->GetOverflowCounter(), 0u);
}

TEST_F(StrmTest, WriteToAClosedPeerIsAWriteError) {
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  pair.peer.close();
  Packet p;
  owner.strm->prepare_head(p);
  p.put8(1);
  owner.strm->message(p);
  EXPECT_EQ(owner.reports, (std::vector<std::string>{"StrmProtocol:write error: Broken pipe"}));
  EXPECT_NE(errors().find("SockStream[]: write error, sendbuf="), std::string::npos);
  EXPECT_EQ(owner.strm->GetOverflowCounter(), 1u);
}

// A kernel whose TIOCOUTQ reports free room shows a figure above zero on a socket with
// nothing queued; the layer then takes the figure as the free space itself. Attaching a
// socket that already holds queued bytes looks the same to it.
TEST_F(StrmTest, AQueueFigureThatReportsFreeRoomIsTakenAsIs) {
  owner.strm->attach(pair.ours);
  ASSERT_EQ(owner.strm->outq_space(), 0);
  std::string const bytes(100, 'q');
  ASSERT_EQ(::write(pair.ours.lowlevel_fd(), bytes.data(), bytes.size()), 100);
  int const queued = owner.strm->outq_space();
  ASSERT_GT(queued, 0);
  EXPECT_EQ(owner.strm->free_space(), owner.strm->sendbuf_space() - queued) << "a figure of queued bytes";

  owner.strm->attach(pair.ours);
  EXPECT_EQ(owner.strm->free_space(), queued) << "a figure of free room";
  pair.send("12345");
  EXPECT_EQ(owner.strm->inq_space(), 5);
}

TEST_F(StrmTest, ExhaustedPoolEndsTheLinkInsteadOfEscaping) {
  owner.strm->service_name("server");
  owner.strm->attach(pair.ours);
  owner.strm->activate();
  pair.send("data");
  std::vector<Packet> held = test::take_every_packet_buffer();
  multiplexer.run(false, true);
  EXPECT_EQ(owner.reports, (std::vector<std::string>{"StrmProtocol:read error: no packet buffer"}));
  EXPECT_EQ(errors(), "SockStream[server]: read error: no packet buffer\n");
  EXPECT_FALSE(owner.strm->opened());
}

}  // namespace
