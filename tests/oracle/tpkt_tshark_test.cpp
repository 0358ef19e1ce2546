// TPKT on the wire as an independent dissector sees it: a real controller session over
// loopback TCP against the acceptor, whose listener echoes every message, is captured by
// tshark and read back with its TPKT dissector. Every frame in both directions must be
// well formed and carry exactly the bodies sent, in order.
//
// ctest runs this in a private network namespace (unshare --net, loopback up), so the
// capture holds this session alone and nothing can reach another machine.

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/timer.h"
#include "protocol/acceptor_net.h"
#include "tests/oracle/tshark_tpkt.h"
#include "tests/support/ports.h"

namespace {

using namespace oracle;
using namespace std::chrono_literals;

// ---------------------------------------------------------------- the controller side

// What the controller writes in one go: the frames of `bodies` back to back, cut into
// separate writes at the given offsets, then the echoes read back.
struct Step {
  std::vector<std::string> bodies;
  std::vector<std::size_t> cuts;
};

// Plays the controller from its own thread; returns what went wrong, or "" when every
// echo came back byte for byte. Closing the link at the end stops the server's loop.
std::string play_controller(int fd, std::vector<Step> const& steps) {
  for (std::size_t s = 0; s < steps.size(); ++s) {
    std::string bytes;
    for (std::string const& body : steps[s].bodies) bytes += frame_of(body);
    std::size_t from = 0;
    std::vector<std::size_t> cuts = steps[s].cuts;
    cuts.push_back(bytes.size());
    for (std::size_t cut : cuts) {
      if (std::string const error = write_all(fd, bytes.data() + from, cut - from); !error.empty())
        return "step " + std::to_string(s) + ": " + error;
      from = cut;
      if (cut != bytes.size()) std::this_thread::sleep_for(30ms);
    }
    std::string echo;
    if (std::string const error = read_exactly(fd, bytes.size(), echo); !error.empty())
      return "step " + std::to_string(s) + ": " + error;
    if (echo != bytes) return "step " + std::to_string(s) + ": the echo differs from what was sent";
  }
  return {};
}

// The daemon's side: hands every message straight back.
struct Echo : Control::Notify {
  explicit Echo(Control::Service& s) : service(s) {}
  void OnConnect() override { ++connects; }
  void OnDisconnect() override {
    ++disconnects;
    multiplexer.terminate();
  }
  void OnMessage(char const* data, int length) override {
    received.push_back(length ? std::string(data, static_cast<std::size_t>(length)) : std::string());
    service.Send(data, length);
  }
  Control::Service& service;
  std::vector<std::string> received;
  int connects = 0;
  int disconnects = 0;
};

// Ends the loop if the session hangs.
struct Guard {
  void expire() {
    expired = true;
    multiplexer.terminate();
  }
  bool expired = false;
  Timer timer;
};

std::vector<std::string> all_bodies(std::vector<Step> const& steps) {
  std::vector<std::string> bodies;
  for (Step const& step : steps) bodies.insert(bodies.end(), step.bodies.begin(), step.bodies.end());
  return bodies;
}

class TpktOnTheWire : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(expect_private_network());
    ASSERT_FALSE(dir.path().empty()) << "mkdtemp: " << std::strerror(errno);
    ASSERT_GT(port, 0);
  }
  TempDir dir;
  test::ReservedPort reserved;  // the servers below bind it with SO_REUSEADDR
  int port = reserved.port();
};

TEST_F(TpktOnTheWire, EchoSessionFramesEveryMessageInBothDirections) {
  std::string const split_body = pattern(3000, 4);
  std::vector<Step> const steps = {
      {{"hello"}, {}},
      {{""}, {}},
      {{std::string(1, '\x03')}, {}},  // a body that looks like the start of a frame
      {{pattern(300, 3)}, {}},
      {{split_body}, {1, 4, 1000, 2500}},  // the header itself cut after its first byte
      {{"one", "", "three"}, {}},          // three frames in one segment, the middle one empty
      {{pattern(20000, 5)}, {}},
      {{pattern(Control::Service::kMaxMessage, 6)}, {}},  // longer than loopback's segments
      {{"bye"}, {}},
  };
  std::vector<std::string> const expected = all_bodies(steps);

  Capture capture(dir.path(), port);
  ASSERT_NO_FATAL_FAILURE(capture.start());

  Control::AcceptorNetCheckConnection server(port, false);
  Echo echo(server);
  server.Bind(&echo);
  ASSERT_TRUE(server.Activate());
  Guard guard;
  guard.timer.set(60000, &Guard::expire, &guard);

  std::string controller_error;
  int const fd = connect_to(port);
  ASSERT_GE(fd, 0) << "connect: " << std::strerror(errno);
  std::thread controller([&] {
    controller_error = play_controller(fd, steps);
    ::close(fd);
  });
  multiplexer.run(false, true);
  controller.join();
  server.Deactivate();

  EXPECT_FALSE(guard.expired) << "the session did not end within 60 s";
  EXPECT_EQ(controller_error, "");
  EXPECT_EQ(echo.connects, 1);
  EXPECT_EQ(echo.disconnects, 1);
  EXPECT_EQ(echo.received, expected) << "what the listener got:" << show(echo.received);

  ASSERT_NO_FATAL_FAILURE(capture.stop());
  std::vector<Row> rows;
  ASSERT_NO_FATAL_FAILURE(dissect(dir.path(), capture.file(), port, rows));
  Wire const wire = read_wire(rows, port);
  EXPECT_EQ(wire.complaints, std::vector<std::string>{});
  // The counts first: a capture that missed the session must not pass as a clean one.
  ASSERT_EQ(wire.to_server.bodies.size(), expected.size()) << "frames to the server:" << show(wire.to_server.bodies);
  ASSERT_EQ(wire.to_client.bodies.size(), expected.size()) << "frames to the client:" << show(wire.to_client.bodies);
  EXPECT_EQ(wire.to_server.bodies, expected);
  EXPECT_EQ(wire.to_client.bodies, expected);
  // The session had the shapes it is meant to test.
  EXPECT_GE(wire.to_server.most_frames, 3u) << "no segment carried the three frames written together";
  EXPECT_GE(wire.to_server.segments_no_frame, 3) << "the split frame did not travel in pieces";
  EXPECT_GE(wire.to_client.segments, static_cast<int>(expected.size()));
}

// The oracle itself: frames the stack would never send must not pass it.
TEST_F(TpktOnTheWire, OracleRejectsBadFrames) {
  Capture capture(dir.path(), port);
  ASSERT_NO_FATAL_FAILURE(capture.start());

  int const listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int const on = 1;
  ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
  ASSERT_EQ(::listen(listener, 1), 0);
  int const fd = connect_to(port);
  ASSERT_GE(fd, 0);
  int const peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);
  std::vector<std::string> const pieces = {
      frame_of("good"),
      std::string{3, 1, 0, 5, 'r'},     // reserved byte set
      std::string{3, 0, 0, 6, 'x', 'y'} + "zz",  // two bytes beyond the frame
      std::string{3, 0, 0, 2},          // length shorter than the header
  };
  for (std::string const& piece : pieces) {
    ASSERT_EQ(write_all(fd, piece.data(), piece.size()), "");
    std::string got;
    ASSERT_EQ(read_exactly(peer, piece.size(), got), "");
  }
  ::close(fd);
  ::close(peer);
  ::close(listener);

  ASSERT_NO_FATAL_FAILURE(capture.stop());
  std::vector<Row> rows;
  ASSERT_NO_FATAL_FAILURE(dissect(dir.path(), capture.file(), port, rows));
  Wire const wire = read_wire(rows, port);
  auto complained = [&](std::string const& what) {
    for (std::string const& c : wire.complaints)
      if (c.find(what) != std::string::npos) return true;
    return false;
  };
  std::ostringstream all;
  for (std::string const& c : wire.complaints) all << "\n  " << c;
  EXPECT_TRUE(complained("reserved 1")) << all.str();
  EXPECT_TRUE(complained("bytes outside any frame: 7a7a")) << all.str();
  EXPECT_TRUE(complained("malformed")) << all.str();
  EXPECT_EQ(wire.to_server.bodies.front(), "good");
}

}  // namespace
