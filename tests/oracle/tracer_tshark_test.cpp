// The TPKT tracer's frames as tshark dissects them: a monitoring client sends frames
// whole, split and batched; the tracer's receiver answers each one to its sender. Every
// frame in both directions must be well formed and carry exactly the bodies meant.
//
// ctest runs this in a private network namespace (unshare --net, loopback up).

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
#include "protocol/tpkt_tracer.h"
#include "tests/oracle/tshark_tpkt.h"
#include "tests/support/ports.h"

namespace {

using namespace oracle;
using namespace std::chrono_literals;

std::string answer_to(std::string const& body) { return "got " + std::to_string(body.size()) + " " + body.substr(0, 8); }

struct Answer : TPKTTracer::Sink {
  explicit Answer(TPKTTracer& t) : tracer(t) {}
  void OnFrame(std::uint8_t const* body, unsigned length) override {
    received.emplace_back(reinterpret_cast<char const*>(body), length);
    std::string const reply = answer_to(received.back());
    tracer.Send(reinterpret_cast<std::uint8_t const*>(reply.data()), static_cast<unsigned>(reply.size()));
  }
  TPKTTracer& tracer;
  std::vector<std::string> received;
};

// Ends the loop once the client has come and gone, or after a minute.
struct Watch {
  explicit Watch(TPKTTracer& t) : tracer(t) { timer.set(5, &Watch::check, this); }
  void check() {
    seen = seen || tracer.clients() > 0;
    if ((seen && tracer.clients() == 0) || ++ticks > 12000) {
      multiplexer.terminate();
      return;
    }
    timer.set(5, &Watch::check, this);
  }
  TPKTTracer& tracer;
  Timer timer;
  bool seen = false;
  int ticks = 0;
};

TEST(TracerOnTheWire, FramesInBothDirectionsAreWellFormed) {
  ASSERT_NO_FATAL_FAILURE(expect_private_network());
  TempDir dir;
  ASSERT_FALSE(dir.path().empty()) << "mkdtemp: " << std::strerror(errno);
  TPKTTracer tracer;
  Answer answer(tracer);
  tracer.receiver(&answer);
  int const port = test::listen_on_free_port([&](int p) { return tracer.Listen(static_cast<std::uint16_t>(p)); });
  ASSERT_GT(port, 0);

  std::vector<std::string> const bodies = {"hello", "", pattern(512, 1), pattern(100, 2), "a", "b", "c", pattern(300, 3)};
  Capture capture(dir.path(), port);
  ASSERT_NO_FATAL_FAILURE(capture.start());
  Watch watch(tracer);

  std::string client_error;
  int const fd = connect_to(port);
  ASSERT_GE(fd, 0) << "connect: " << std::strerror(errno);
  std::thread client([&] {
    auto fail = [&](std::string const& what) { client_error = what; };
    auto send = [&](std::string const& bytes) { return write_all(fd, bytes.data(), bytes.size()); };
    auto expect = [&](std::vector<std::string> const& sent) {
      std::string wanted;
      for (std::string const& b : sent)
        if (!b.empty()) wanted += frame_of(answer_to(b));
      std::string got;
      if (std::string const e = read_exactly(fd, wanted.size(), got); !e.empty()) return e;
      return got == wanted ? std::string() : std::string("the answers differ from what was meant");
    };
    std::string e;
    // One frame per write, the empty one answered by nothing.
    for (std::size_t i = 0; i < 4 && e.empty(); ++i) e = send(frame_of(bodies[i]));
    if (e.empty()) e = expect({bodies[0], bodies[1], bodies[2], bodies[3]});
    // Three frames in one segment.
    if (e.empty()) e = send(frame_of(bodies[4]) + frame_of(bodies[5]) + frame_of(bodies[6]));
    if (e.empty()) e = expect({bodies[4], bodies[5], bodies[6]});
    // A frame cut after its first octet and inside its body.
    std::string const split = frame_of(bodies[7]);
    for (auto [from, to] : {std::pair<std::size_t, std::size_t>{0, 1}, {1, 150}, {150, split.size()}}) {
      if (!e.empty()) break;
      e = send(split.substr(from, to - from));
      std::this_thread::sleep_for(30ms);
    }
    if (e.empty()) e = expect({bodies[7]});
    if (!e.empty()) fail(e);
    ::close(fd);
  });
  multiplexer.run(false, true);
  client.join();

  EXPECT_EQ(client_error, "");
  std::vector<std::string> delivered;
  for (std::string const& b : bodies)
    if (!b.empty()) delivered.push_back(b);
  EXPECT_EQ(answer.received, delivered);

  ASSERT_NO_FATAL_FAILURE(capture.stop());
  std::vector<Row> rows;
  ASSERT_NO_FATAL_FAILURE(dissect(dir.path(), capture.file(), port, rows));
  Wire const wire = read_wire(rows, port);
  EXPECT_EQ(wire.complaints, std::vector<std::string>{});
  std::vector<std::string> answers;
  for (std::string const& b : delivered) answers.push_back(answer_to(b));
  ASSERT_EQ(wire.to_server.bodies.size(), bodies.size()) << "frames to the tracer:" << show(wire.to_server.bodies);
  EXPECT_EQ(wire.to_server.bodies, bodies);
  EXPECT_EQ(wire.to_client.bodies, answers) << "frames from the tracer:" << show(wire.to_client.bodies);
  EXPECT_GE(wire.to_server.most_frames, 3u) << "no segment carried the three frames written together";
  EXPECT_GE(wire.to_server.segments_no_frame, 2) << "the split frame did not travel in pieces";
}

}  // namespace
