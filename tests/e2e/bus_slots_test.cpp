// Map and ext slots on the shared buses, seen from both ends: what the controller is told,
// what the switch was asked, and what the daemon logged.

#include <gtest/gtest.h>

#include <optional>

#include "schemas/term.h"
#include "tests/e2e/slot_scene.h"

namespace {

using namespace e2e;

constexpr int kInsufficientResources = 1;
constexpr int kSlotNotExists = 3;
constexpr int kConnectFail = 9;
constexpr int kQuietMs = 300;

struct Bus {
  unsigned bus, channel;
};

LGCP::Message create_map(int seq, int slot, std::optional<Bus> transmitter, std::optional<Bus> receiver) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::MapParams& map = c.select_create().select_map();
    LGCP::SharedChannel channel;
    if (transmitter) {
      channel.set_bus(transmitter->bus);
      channel.set_channel(transmitter->channel);
      map.set_transmitter(channel);
    }
    if (receiver) {
      channel.set_bus(receiver->bus);
      channel.set_channel(receiver->channel);
      map.set_receiver(channel);
    }
  });
}

LGCP::Message create_ext(int seq, int slot, int transmitter, int receiver) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::ExtParams& ext = c.select_create().select_ext();
    ext.set_transmitter(transmitter);
    ext.set_receiver(receiver);
  });
}

LGCP::Message activate(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_activate().select_empty(); });
}

LGCP::Message deactivate(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_deactivate(); });
}

void map_scene(Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
  answered(c, f, create_map(10, 5, Bus{1, 2}, Bus{2, 5}), "map {tx {1,2}, rx {2,5}} on slot 5");
  f.equal(next_stream(c, 5), "receiver 8453", "the receiver first, on 8192 + 2 x 128 + 5");
  f.equal(next_stream(c, 5), "transmitter 8322", "then the transmitter, on 8192 + 128 + 2");
  answered(c, f, connect_to(11, 3, 5), "slot 3 feeds slot 5");
  f.check(hal_state(board, 8453).find(" input=37 ") != std::string::npos, "output 8453 takes channel 37");

  // Slot 6 receives on slot 5's transmit port: slot 5 goes, untold.
  board.ok("clear");
  answered(c, f, create_map(12, 6, std::nullopt, Bus{1, 2}), "map {rx {1,2}} on slot 6");
  f.equal(next_stream(c, 6), "receiver 8322", "slot 6 receives on 8322");
  f.check(c.quiet(kQuietMs), "nothing tells of slot 5's removal");
  f.check(daemon.wait_output("map-slot: two slots require the same ipc-slot, remove old.\n"
                             "new slot na:map <-> old slot 05:map\n"),
          "both conflict lines, the new slot not numbered yet");
  f.check(daemon.wait_output("map: disable map channel 261\n"), "slot 5's release names its receive port");
  f.check(in_order(board.requests("hal"), {"/dev/hal ioctl write output=8453 byte=0xd5",
                                           "/dev/hal ioctl disable output=8453"}),
          "slot 5 loses its source, then its receive port is disabled");
  f.check(hal_state(board, 8453).find(" disabled ") != std::string::npos, "output 8453 stays disabled");
  f.equal(board.requests("hal", "ioctl connect").size(), 0u, "no connection made");
  answered(c, f, destroy(13, 5), "destroy slot 5", kSlotNotExists);

  board.ok("clear");
  answered(c, f, connect_to(14, 3, 6), "slot 3 feeds slot 6");
  auto const connects = board.requests("hal", "ioctl connect");
  f.equal(connects.size(), 1u, "one connect request");
  if (!connects.empty()) f.equal(connects[0], "/dev/hal ioctl connect output=8322 input=37", "the connect");

  // One port for both directions: owned once, released once.
  answered(c, f, create_map(15, 8, Bus{3, 3}, Bus{3, 3}), "map {tx {3,3}, rx {3,3}} on slot 8");
  f.equal(next_stream(c, 8), "receiver 8579", "slot 8's receiver");
  f.equal(next_stream(c, 8), "transmitter 8579", "slot 8's transmitter");
  answered(c, f, connect_to(16, 3, 8), "slot 3 feeds slot 8, which lives");
  answered(c, f, destroy(17, 8), "destroy slot 8");
  f.check(daemon.wait_output("map: disable map channel 387\n"), "slot 8's release");

  // No ports: nothing to report, own or release.
  board.ok("clear");
  answered(c, f, create_map(18, 9, std::nullopt, std::nullopt), "map {} on slot 9");
  f.check(c.quiet(kQuietMs), "no signal for a map slot without ports");
  answered(c, f, destroy(19, 9), "destroy slot 9");
  f.equal(board.requests("hal", "ioctl connect").size() + board.requests("hal", "ioctl write").size(), 0u,
          "no switch request for a map slot without ports");

  std::string const said = daemon.output();
  f.equal(occurrences(said, "two slots require the same ipc-slot"), 1u, "one conflict: slot 5's");
  f.equal(occurrences(said, "map: disable map channel"), 2u, "two releases of receive ports: 261, 387");
  f.equal(occurrences(said, "internal error"), 0u, "no internal error");
}

void ext_scene(Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
  answered(c, f, create_ext(10, 7, 10, 11), "ext {10, 11} on slot 7");
  f.equal(next_stream(c, 7), "transmitter 8202", "the transmitter on 8192 + 10");
  f.check(c.quiet(kQuietMs), "and no receiver before activate");
  answered(c, f, connect_to(11, 3, 7), "slot 3 to an inactive ext slot", kConnectFail);

  board.ok("clear");
  answered(c, f, activate(12, 7), "activate slot 7");
  f.equal(next_stream(c, 7), "receiver 8203", "the receiver on 8192 + 11");
  auto writes = board.requests("hal", "ioctl write");
  f.equal(writes.size(), 1u, "one write");
  if (!writes.empty()) f.equal(writes[0], "/dev/hal ioctl write output=8203 byte=0xd5", "the idle byte");

  board.ok("clear");
  answered(c, f, connect_to(13, 3, 7), "slot 3 feeds slot 7");
  auto const connects = board.requests("hal", "ioctl connect");
  f.equal(connects.size(), 1u, "one connect request");
  if (!connects.empty()) f.equal(connects[0], "/dev/hal ioctl connect output=8203 input=37", "the connect");
  f.check(daemon.wait_output("mux: slot 03:trunk [37] -> 07:bri [8203]\n"), "the log names the link");

  // Over the live feed, activate changes nothing in the switch.
  board.ok("clear");
  answered(c, f, activate(14, 7), "activate slot 7 again");
  f.equal(board.requests("hal", "ioctl write").size(), 0u, "no idle byte over the feed");
  f.check(hal_state(board, 8203).find(" input=37 ") != std::string::npos, "output 8203 still takes 37");
  f.check(c.quiet(kQuietMs), "no second receiver signal");

  board.ok("clear");
  answered(c, f, deactivate(15, 7), "deactivate slot 7");
  f.equal(next_stream(c, 7), "receiver inactive", "the receiver goes inactive");
  f.check(in_order(board.requests("hal"), {"/dev/hal ioctl write output=8203 byte=0xd5",
                                           "/dev/hal ioctl disable output=8203"}),
          "the source is disconnected, then the receive port disabled");
  f.check(hal_state(board, 8203).find(" disabled ") != std::string::npos, "output 8203 disabled");

  // Offsets past the shared buses reach the driver as they are.
  board.ok("clear");
  answered(c, f, create_ext(16, 9, 0, 100000), "ext {0, 100000} on slot 9");
  answered(c, f, activate(17, 9), "activate slot 9");
  writes = board.requests("hal", "ioctl write");
  f.equal(writes.size(), 1u, "one write");
  if (!writes.empty()) f.equal(writes[0], "/dev/hal ioctl write output=108192 byte=0xd5", "its idle byte");
  answered(c, f, create_ext(18, 10, 1, 100001), "ext {1, 100001} on slot 10");
  answered(c, f, destroy(19, 9), "destroy slot 9");
  answered(c, f, destroy(20, 10), "destroy slot 10, never activated");
  auto const disables = board.requests("hal", "ioctl disable");
  f.check(in_order(disables, {"/dev/hal ioctl disable output=108192"}), "slot 9's receive port disabled");
  f.check(in_order(disables, {"/dev/hal ioctl disable output=108193"}), "slot 10's receive port disabled");

  // Offsets below the shared buses would name the board's own outputs, slot 3's among them.
  answered(c, f, create_ext(21, 11, 0, 37 - 8192), "ext {0, 37 - 8192} on slot 11", kInsufficientResources);
  answered(c, f, create_ext(22, 11, -1, 0), "ext {-1, 0} on slot 11", kInsufficientResources);
  f.check(daemon.wait_output("ext: negative offset -8155 refused\n"), "the receiver's offset named");
  f.check(daemon.wait_output("ext: negative offset -1 refused\n"), "the transmitter's offset named");
}

TEST(BusSlots, MapSlotsOwnTheirPorts) { EXPECT_EQ(with_daemon(map_scene), ""); }

TEST(BusSlots, ExtSlotsReceiveWhileActive) { EXPECT_EQ(with_daemon(ext_scene), ""); }

}  // namespace
