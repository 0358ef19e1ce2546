// The order in which create commands reach the factories: the trunk factories made
// during static initialisation come last, the factories start-up makes come before them
// in reverse order of making. A unit that is dropped at link time shows here as a
// missing trunk factory.

#include <gtest/gtest.h>

#include <string>

#include "server/slot_factory.h"
#include "server/start_up/slot_factories.h"
#include "slots/trunk/trunk_slot.h"
#include "tests/support/own_process.h"
#include "tests/support/private_network.h"

namespace {

TEST(Registry, StartUpOrderGivesTheOrderOfAsking) {
  // The modem factory listens and scans interfaces: in a network namespace of its own.
  EXPECT_EQ(test::in_own_process([] {
              if (std::string const failed = test::enter_private_network(); !failed.empty()) return failed;
              MakeSlotFactories();
              std::string asked;
              for (SlotFactory* f = firstFactory; f; f = f->next()) {
                asked += f->GetName();
                if (auto* trunk = dynamic_cast<TrunkFactory*>(f)) asked += " " + std::to_string(trunk->trunk());
                asked += ", ";
              }
              test::Failures f;
              f.equal(asked,
                      "HdlcSlotFactory, RTP Ext ED137, RTP Ext LEMZ, ISDN, T.38 soft, Voice/mcc, Echo, MCC, Ext, Mixer, "
                      "Modem, RTP, PSTN, Map, TrunksBRI 7, TrunksBRI 6, TrunksBRI 5, TrunksBRI 4, TrunksBRI 3, TrunksBRI 2, "
                      "TrunksBRI 1, TrunksBRI 0, Trunks 3, Trunks 2, Trunks 1, Trunks 0, ",
                      "the order of asking");
              return f.result();
            }),
            "");
}

}  // namespace
