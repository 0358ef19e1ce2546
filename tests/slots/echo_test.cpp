// Echo slots through the slot table. Nothing in the system marks an echo bus available,
// so the tests mark them: what an available bus yields, and what stays refused.

#include "slots/echo/echo_slot.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

#include "server/slot.h"
#include "server/start_up/slot_factories.h"
#include "tests/slots/slot_table_fixture.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;

class EchoTest : public test::SlotTableTest {
protected:
  EchoTest() { MakeSlotFactories(); }
  ~EchoTest() override { EchoFactory::instance().Scan(); }

  std::vector<LGCP::Message> create(int seq, int slot, int bus, int channel) {
    return controller.exchange(test_server::command(seq, slot, [&](LGCP::Command& c) {
      LGCP::EchoParams& echo = c.select_create().select_echo();
      echo.set_bus(bus);
      echo.set_channel(channel);
    }));
  }
  // The echo buses of a resources report.
  std::vector<int> echo_buses(int seq) {
    auto const got = controller.exchange(test_server::command(seq, -1, [](LGCP::Command& c) { c.select_query(); }), 2);
    std::vector<int> buses;
    for (auto const& m : got)
      if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
        for (auto const& bus : m.get_pdu().get_signal().get_query().get_echoBus()) buses.push_back(bus.getValue());
    return buses;
  }
};

TEST_F(EchoTest, AnAvailableBusGivesASlotOnItsChannel) {
  EXPECT_TRUE(echo_buses(1).empty()) << "the scan marks no bus";
  EchoFactory::instance().set_bus_available(2, true);
  EXPECT_EQ(echo_buses(2), std::vector<int>{2});

  auto const got = create(3, 9, 2, 5);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(is_success(got[0]));
  ASSERT_TRUE(got[1].get_pdu().signal_isSelected());
  ASSERT_TRUE(got[1].get_pdu().get_signal().transmitter_isSelected()) << "transmitter first";
  EXPECT_EQ(got[1].get_pdu().get_signal().get_transmitter().get_active().getValue(), 69) << "2 x 32 + 5";
  ASSERT_TRUE(got[2].get_pdu().signal_isSelected());
  ASSERT_TRUE(got[2].get_pdu().get_signal().receiver_isSelected()) << "then receiver";
  EXPECT_EQ(got[2].get_pdu().get_signal().get_receiver().get_active().getValue(), 69);

  Slot* const slot = Slots::instance().Get(9);
  ASSERT_NE(slot, nullptr);
  std::ostringstream label;
  label << *slot;
  EXPECT_EQ(label.str(), "09:echo");
  EXPECT_EQ(slot->GetSlotFactory(), &EchoFactory::instance());

  auto const answer = controller.exchange(test_server::command(4, 9, [](LGCP::Command& c) { c.select_destroy(); }));
  ASSERT_FALSE(answer.empty());
  EXPECT_TRUE(is_success(answer[0])) << "an echo slot goes at once";
  EXPECT_EQ(Slots::instance().Get(9), nullptr);
}

TEST_F(EchoTest, UnmarkedAndOutOfRangeBusesAreRefused) {
  EchoFactory::instance().set_bus_available(2, true);
  int seq = 1;
  for (int bus : {0, 15, 16, -1}) {
    auto const got = create(seq++, 9, bus, 1);
    ASSERT_EQ(got.size(), 1u) << "bus " << bus;
    EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "bus " << bus;
  }
  // With every bus marked, the numbers past the table still find no bus.
  for (unsigned bus = 0; bus < EchoFactory::kBuses; ++bus) EchoFactory::instance().set_bus_available(bus, true);
  EXPECT_EQ(echo_buses(seq++).size(), EchoFactory::kBuses);
  for (int bus : {16, -1, -2147483647 - 1}) {
    auto const got = create(seq++, 9, bus, 1);
    ASSERT_EQ(got.size(), 1u) << "bus " << bus;
    EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "bus " << bus;
  }

  EchoFactory::instance().Scan();
  EXPECT_NE(streams.log().find("Scanning echo channels ..."), std::string::npos);
  EXPECT_TRUE(echo_buses(seq++).empty());
  auto const got = create(seq++, 9, 2, 5);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "the scan forgets bus 2";
}

}  // namespace
