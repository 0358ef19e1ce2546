// Trunk slots through the stand-in's time-slot switch, seen from both ends: what the
// controller is told, and what the switch was asked to do.

#include <gtest/gtest.h>

#include <csignal>

#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;

constexpr int kSlotNotExists = 3;

// Whether the next stream signal of `alternative` on `slot` reports channel `channel`.
bool stream_active(Controller& c, int alternative, int slot, long channel) {
  auto s = c.signal(signal_of(alternative, slot));
  if (!s) return false;
  LGCP::Signal const& signal = s->get_pdu().get_signal();
  LGCP::Stream const& stream =
      alternative == LGCP::Signal::transmitter::id ? signal.get_transmitter() : signal.get_receiver();
  return stream.active_isSelected() && stream.get_active().getValue() == channel;
}

void create_two_trunks(Controller& c, test::Failures& f) {
  c.send(create_trunk(1, 3, 1, 5));
  auto r = c.response(1);
  f.check(r && is_success(*r), "trunk {1,5} on slot 3 is created");
  f.check(stream_active(c, LGCP::Signal::transmitter::id, 3, 37), "slot 3's transmitter is active on channel 37");
  f.check(stream_active(c, LGCP::Signal::receiver::id, 3, 37), "slot 3's receiver is active on channel 37");
  c.send(create_trunk(2, 4, 0, 1));
  r = c.response(2);
  f.check(r && is_success(*r), "trunk {0,1} on slot 4 is created");
  f.check(stream_active(c, LGCP::Signal::transmitter::id, 4, 1), "slot 4's transmitter is active on channel 1");
  f.check(stream_active(c, LGCP::Signal::receiver::id, 4, 1), "slot 4's receiver is active on channel 1");
}

TEST(Switch, ConnectDisconnectAndDestroyTrunks) {
  EXPECT_EQ(in_scene([]() -> std::string {
              Daemon daemon;
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              Controller c;
              if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
              test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
              test::Failures f;
              create_two_trunks(c, f);

              board.ok("clear");
              c.send(connect_to(3, 3, 4));
              auto r = c.response(3);
              f.check(r && is_success(*r), "slot 3 connects to slot 4");
              auto requests = board.requests("hal", "ioctl connect");
              f.equal(requests.size(), 1u, "one connect request");
              if (!requests.empty()) f.equal(requests[0], "/dev/hal ioctl connect output=1 input=37", "the connect");
              f.check(daemon.wait_output("mux:"), "the log names the connection");

              board.ok("clear");
              c.send(disconnect(4, 4));
              r = c.response(4);
              f.check(r && is_success(*r), "the receiver disconnects");
              requests = board.requests("hal", "ioctl write");
              f.equal(requests.size(), 1u, "one write request");
              if (!requests.empty()) f.equal(requests[0], "/dev/hal ioctl write output=1 byte=0xd5", "the idle byte");

              board.ok("clear");
              c.send(disconnect(5, 3));
              r = c.response(5);
              f.check(r && is_success(*r), "the source disconnects");
              f.equal(board.requests("hal", "ioctl connect").size() + board.requests("hal", "ioctl write").size(), 0u,
                      "no switch request for a source without receivers");

              c.send(destroy(6, 3));
              r = c.response(6);
              f.check(r && is_success(*r), "slot 3 is destroyed");
              c.send(destroy(7, 4));
              r = c.response(7);
              f.check(r && is_success(*r), "slot 4 is destroyed");
              c.close();
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              return f.result();
            }),
            "");
}

TEST(Switch, ControllerLossReleasesTheSlots) {
  EXPECT_EQ(in_scene([]() -> std::string {
              Daemon daemon;
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              Controller c;
              if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
              test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
              test::Failures f;
              create_two_trunks(c, f);
              c.send(connect_to(3, 3, 4));
              auto r = c.response(3);
              f.check(r && is_success(*r), "slot 3 feeds slot 4");

              board.ok("clear");
              c.close();
              // Trunk outputs lie below 8192: released, output 1 sends the idle byte.
              f.check(eventually([&] { for (std::string const& line : board.requests("hal", "ioctl write"))
                  if (line == "/dev/hal ioctl write output=1 byte=0xd5") return true;
                return false; }),
                      "the release of slot 4 shows in the switch");

              // The daemon ignores newcomers until its deferred disconnect has run, then
              // blocks a second in the slot table: connect again until served.
              Controller next;
              std::optional<LGCP::Message> answer;
              f.check(eventually(
                          [&] {
                            if (!next.connect(kPort).empty()) return false;
                            next.send(destroy(8, 3));
                            answer = next.response(8, 2000);
                            return answer.has_value();
                          },
                          10000),
                      "a new controller is served");
              f.check(answer && error_of(*answer) == kSlotNotExists, "slot 3 is gone: slotNotExists");
              next.close();
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              return f.result();
            }),
            "");
}

}  // namespace
