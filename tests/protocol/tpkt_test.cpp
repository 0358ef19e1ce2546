// TPKT framing and reassembly, with the layer's log lines and its 3000 ms give-up timer on
// simulated time.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/tpkt_protocol.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/test_files.h"

namespace {

// Records what TPKT sends down.
struct Wire : Protocol {
  void message(Packet& p) override { sent.push_back(p.text()); }
  std::vector<std::string> sent;
};

// Owns the two layers and records every body handed up.
struct Owner : ProtocolsList {
  Owner() {
    wire = static_cast<Wire*>(add_protocol_tail(new Wire));
    tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol));
  }
  void on_message(Packet& p) override {
    bodies.push_back(p.text());
    if (on_body) on_body(p);
  }
  void feed(std::vector<std::uint8_t> const& bytes) {
    Packet p;
    p.reserve_head(0);
    for (auto b : bytes) p.put8(b);
    tpkt->receive(p);
  }
  Wire* wire;
  Tpkt_protocol* tpkt;
  std::vector<std::string> bodies;
  std::function<void(Packet&)> on_body;
};

class TpktTest : public ::testing::Test {
protected:
  TpktTest() { previous = std::clog.rdbuf(logged.rdbuf()); }
  ~TpktTest() override { std::clog.rdbuf(previous); }
  // The layer's lines, without the loop's own.
  std::string log() const {
    std::string text = logged.str();
    for (std::size_t at; (at = text.find("Mux: terminating...\n")) != std::string::npos;) text.erase(at, 20);
    return text;
  }

  test::FakeClock clock;
  Owner owner;
  std::ostringstream logged;
  std::streambuf* previous;
};

TEST_F(TpktTest, FramesAMessage) {
  Packet p;
  owner.tpkt->prepare_head(p);
  EXPECT_EQ(p._headroom(), 4u);
  for (int i = 0; i < 10; ++i) p.put8(static_cast<std::uint8_t>(i));
  owner.tpkt->message(p);
  ASSERT_EQ(owner.wire->sent.size(), 1u);
  EXPECT_EQ(owner.wire->sent[0], "03 00 00 0E 00 01 02 03 04 05 06 07 08 09");
}

TEST_F(TpktTest, LargestBodyFramesAndALargerOneIsNeverSent) {
  Packet p;
  owner.tpkt->prepare_head(p);
  p.put(Tpkt_protocol::kMaxBody);
  owner.tpkt->message(p);
  ASSERT_EQ(owner.wire->sent.size(), 1u);
  EXPECT_EQ(owner.wire->sent[0].substr(0, 11), "03 00 FF FF");

  std::ostringstream err;
  auto* saved = std::cerr.rdbuf(err.rdbuf());
  Packet big;
  owner.tpkt->prepare_head(big);
  big.put(Tpkt_protocol::kMaxBody + 1);
  owner.tpkt->message(big);
  std::cerr.rdbuf(saved);
  EXPECT_EQ(owner.wire->sent.size(), 1u) << "a wrapped length is never sent";
  EXPECT_NE(err.str().find("65532"), std::string::npos) << err.str();
}

TEST_F(TpktTest, SeveralFramesInOnePieceArriveInOrder) {
  owner.feed({3, 0, 0, 5, 0xAA, 3, 0, 0, 6, 0xBB, 0xCC});
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"AA", "BB CC"}));
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_EQ(multiplexer.pending_timers(), 0u) << "no timer once the frames are complete";
}

TEST_F(TpktTest, FrameSplitIntoSingleBytes) {
  std::vector<std::uint8_t> frame = {3, 0, 0, 7, 1, 2, 3};
  for (std::size_t i = 0; i < frame.size(); ++i) {
    owner.feed({frame[i]});
    EXPECT_EQ(owner.bodies.size(), i + 1 == frame.size() ? 1u : 0u);
  }
  EXPECT_EQ(owner.bodies[0], "01 02 03");
}

TEST_F(TpktTest, StrayBytesAreLoggedOneLineEachAndSkipped) {
  owner.feed({5, 3, 0, 0, 8, 1, 2, 3, 4});
  EXPECT_EQ(log(), "TPKT bad TPKT packet start.\n");
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"01 02 03 04"}));
}

TEST_F(TpktTest, BadReservedByteRestartsTheSearch) {
  owner.feed({3, 1});
  EXPECT_EQ(log(), "TPKT bad TPKT reserved.\n");
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
  owner.feed({3, 3});  // the second 3 is read as the reserved byte, not as a new start
  EXPECT_EQ(log(), "TPKT bad TPKT reserved.\nTPKT bad TPKT reserved.\n");
  owner.feed({3, 0, 0, 5, 9});
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"09"}));
}

TEST_F(TpktTest, LengthBelowTheHeaderIsRefused) {
  owner.feed({3, 0, 0, 2});
  EXPECT_EQ(log(), "TPKT too small 2\n");
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
}

TEST_F(TpktTest, EmptyFrameIsHandedUpAtOnce) {
  owner.feed({3, 0, 0, 4});
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{""}));
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
}

TEST_F(TpktTest, IncompleteFrameIsDroppedThreeSecondsAfterItsLastPiece) {
  test::SimulatedPoll poll(clock);
  owner.feed({3, 0, 0, 9, 1});
  struct Later {
    Owner& owner;
    Timer t;
    void more() { owner.feed({2}); }  // restarts the timer
  } later{owner, {}};
  later.t.set(2000, &Later::more, &later);
  test::StopAfter stop(4999);
  multiplexer.run(false, true);
  EXPECT_EQ(log().find("TPKT packet timeout"), std::string::npos) << "not before 3000 ms after the last piece";
  test::StopAfter stop2(1);
  multiplexer.run(false, true);
  EXPECT_EQ(log(), " TPKT packet timeout.\n");
  owner.feed({3, 0, 0, 5, 7});
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"07"}));
}

TEST_F(TpktTest, BodyIsHandedUpInAHandleOfItsOwn) {
  Packet kept;
  owner.on_body = [&](Packet& body) {
    kept = body;
    owner.tpkt->reset();  // the layer above may disconnect from inside
  };
  owner.feed({3, 0, 0, 6, 1, 2, 3, 0, 0, 5, 9});
  EXPECT_EQ(kept.text(), "09");
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"01 02", "09"}));
}

TEST_F(TpktTest, ActivationAndDeactivationResetTheReceiver) {
  owner.feed({3, 0, 0, 9});
  owner.tpkt->activate();
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
  owner.feed({3, 0});
  struct Reporter : Owner {};
  owner.tpkt->deactivate();
  EXPECT_EQ(owner.tpkt->state(), Tpkt_protocol::idle);
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
}

TEST_F(TpktTest, ExhaustedPoolSkipsTheFrameAndGoesOn) {
  std::vector<Packet> held = test::take_every_packet_buffer();
  // The input itself must exist: give one buffer back for it.
  held.pop_back();
  Packet input;
  input.reserve_head(0);
  for (std::uint8_t b : {3, 0, 0, 6, 1, 2, 3, 0, 0, 5}) input.put8(b);
  EXPECT_NO_THROW(owner.tpkt->receive(input));
  EXPECT_TRUE(owner.bodies.empty());
  EXPECT_EQ(log(), "TPKT no packet buffer for a frame of 6 bytes: body skipped\n"
                   "TPKT no packet buffer for a frame of 5 bytes: body skipped\n");
  held.clear();
  input.clear();
  owner.feed({9, 3, 0, 0, 5, 4});
  EXPECT_EQ(owner.bodies, (std::vector<std::string>{"04"})) << "the skipped body is ignored, then framing goes on";
}

}  // namespace
