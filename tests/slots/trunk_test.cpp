// Trunk slots through the slot table: channel numbers, the factories that take or refuse
// a create, and a time slot claimed twice.

#include "slots/trunk/trunk_slot.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/slots/slot_table_fixture.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;

class TrunkTest : public test::SlotTableTest {
protected:
  // The answer to a trunk (or BRI) create, and the messages after it.
  std::vector<LGCP::Message> create(int seq, int slot, bool bri, unsigned trunk, unsigned timeslot) {
    LGCP::Message m = test_server::command(seq, slot, [](LGCP::Command&) {});
    LGCP::CreateParams& p = m.set_pdu().select_command().select_create();
    LGCP::TrunkParams& t = bri ? p.select_trunk_bri() : p.select_trunk();
    t.set_trunk(trunk);
    t.set_timeslot(timeslot);
    return controller.exchange(m);
  }
  static std::string label(Slot const& s) {
    std::ostringstream text;
    text << s;
    return text.str();
  }
};

TEST_F(TrunkTest, ChannelsTrunksAndTimeSlots) {
  auto got = create(1, 3, false, 1, 5);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(is_success(got[0]));
  for (int i : {1, 2}) {
    ASSERT_TRUE(got[i].get_pdu().signal_isSelected());
    LGCP::Signal const& s = got[i].get_pdu().get_signal();
    LGCP::Stream const& stream = i == 1 ? s.get_transmitter() : s.get_receiver();
    EXPECT_EQ(stream.get_active().getValue(), 37) << "transmitter, then receiver, on channel 32 x 1 + 5";
  }
  Slot* const e1 = Slots::instance().Get(3);
  ASSERT_NE(e1, nullptr);
  EXPECT_EQ(label(*e1), "03:trunk");
  EXPECT_EQ(e1->GetTrunk(), 1);
  EXPECT_EQ(e1->GetTrunkTimeSlot(), 5);

  got = create(2, 4, true, 2, 3);
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(is_success(got[0]));
  auto* const bri = dynamic_cast<TrunkBRISlot*>(Slots::instance().Get(4));
  ASSERT_NE(bri, nullptr);
  EXPECT_EQ(label(*bri), "04:trunkBRI");
  EXPECT_EQ(bri->GetTransmitChannel(), 11);
  EXPECT_EQ(bri->GetTrunk(), 2);
  EXPECT_EQ(bri->GetTimeSlot(), 3);
}

TEST_F(TrunkTest, CreatesNoFactoryTakes) {
  auto got = create(1, 5, true, 2, 4);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "a BRI interface has 4 channels";
  got = create(2, 5, false, 4, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "there are four E1 trunks";
  got = create(3, 5, true, 8, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "there are eight BRI interfaces";
}

TEST_F(TrunkTest, ASecondSlotOnTheSameTimeSlotReplacesTheFirstSilently) {
  create(1, 3, false, 0, 7);
  create(2, 4, false, 3, 9);
  // Slot 4 feeds slot 3; then slot 6 claims slot 3's time slot.
  LGCP::Message connect = test_server::command(3, 4, [](LGCP::Command& c) { c.select_connect(3); });
  controller.send(connect);
  controller.receive(1);
  controller.pending();
  test::switch_board().clear_requests();
  auto got = create(4, 6, false, 0, 7);
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(is_success(got[0])) << "one answer: the new slot's";
  for (auto const& m : got) EXPECT_FALSE(m.get_pdu().response_isSelected() && !is_success(m));
  EXPECT_EQ(Slots::instance().Get(3), nullptr) << "the old number leaves the table without a message";
  EXPECT_TRUE(Slots::instance().Get(4)->GetReceivers().empty()) << "and its link with it";
  EXPECT_NE(streams.err().find("trunk-slot: two slots require the same timeslot, remove old."), std::string::npos);
  auto const writes = test::switch_board().requests("/dev/hal", "ioctl write");
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0].fields, "output=7 byte=0xd5");

  LGCP::Message destroy = test_server::command(5, 6, [](LGCP::Command& c) { c.select_destroy(); });
  controller.send(destroy);
  auto answer = controller.receive(1);
  ASSERT_EQ(answer.size(), 1u);
  EXPECT_TRUE(is_success(answer[0])) << "a trunk slot goes at once";
}

}  // namespace
