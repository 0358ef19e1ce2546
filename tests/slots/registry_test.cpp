// The order in which create commands reach the factories: the trunk factories made
// during static initialisation come last, the factories start-up makes come before them
// in reverse order of making. A unit that is dropped at link time shows here as a
// missing trunk factory.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/slot_factory.h"
#include "slots/trunk/trunk_slot.h"
#include "tests/slots/start_up_factories.h"

namespace {

TEST(Registry, StartUpOrderGivesTheOrderOfAsking) {
  test::make_start_up_factories();

  std::vector<std::string> asked;
  for (SlotFactory* f = firstFactory; f; f = f->next()) {
    std::string name = f->GetName();
    if (auto* trunk = dynamic_cast<TrunkFactory*>(f)) name += " " + std::to_string(trunk->trunk());
    asked.push_back(name);
  }
  std::vector<std::string> const expected = {
      "HdlcSlotFactory", "RTP Ext ED137", "RTP Ext LEMZ", "ISDN",        "T.38 soft",   "Voice/mcc",
      "Echo",            "MCC",           "Ext",          "Mixer",       "Modem",       "RTP",
      "PSTN",            "Map",           "TrunksBRI 7",  "TrunksBRI 6", "TrunksBRI 5", "TrunksBRI 4",
      "TrunksBRI 3",     "TrunksBRI 2",   "TrunksBRI 1",  "TrunksBRI 0", "Trunks 3",    "Trunks 2",
      "Trunks 1",
      "Trunks 0"};
  EXPECT_EQ(asked, expected);
}

}  // namespace
