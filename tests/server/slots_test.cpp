// The slot table's commands and error causes, deferred destruction, controller loss and
// the connection rule, with a scripted slot family over the stand-in's switch.

#include "server/slots.h"

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "server/connect.h"
#include "server/control_server.h"
#include "server/slot.h"
#include "server/slot_factory.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/controller_end.h"
#include "tests/support/switch_board.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;
using test_server::command;

// What the next slot made does.
struct Behaviour {
  int priority = 0;
  bool defer_release = false;    // IBeforeDestroy returns false
  bool release_inline = false;   // ... after calling on_release itself
  bool output = true;            // IOnOutputStream
  bool input = true;             // IOnInputStream
  bool fail_connect = false;     // its IHwConnectReceiver fails
};

std::vector<std::string> g_events;
// By serial number, not address: a new slot may take the address of one just deleted.
std::set<unsigned> g_alive;
unsigned g_serial = 0;
Behaviour g_next;

class ScriptedSlot : public Slot {
public:
  ScriptedSlot(int tx, int rx, Behaviour b) : serial(++g_serial), m_tx(tx), m_rx(rx), m_b(b) { g_alive.insert(serial); }
  ~ScriptedSlot() override {
    note("deleted");
    g_alive.erase(serial);
  }
  unsigned const serial;
  std::string GetName() const override { return "test"; }
  void IAfterCreate() override { OnActivated(); }
  bool IBeforeDestroy() override {
    note("IBeforeDestroy");
    if (m_b.release_inline) {
      on_release();
      return false;
    }
    return !m_b.defer_release;
  }
  int GetConnectionPriority() override { return m_b.priority; }
  bool IOnOutputStream() override { return note("IOnOutputStream"), m_b.output; }
  bool IOnInputStream() override { return note("IOnInputStream"), m_b.input; }
  void IOnOutputRelease() override { note("IOnOutputRelease"); }
  void IOnInputRelease() override { note("IOnInputRelease"); }
  bool IHwConnectTransmitter(Slot& receiver) override {
    note("IHwConnectTransmitter");
    return Slot::IHwConnectTransmitter(receiver);
  }
  bool IHwConnectReceiver(Slot& source) override {
    note("IHwConnectReceiver " + std::to_string(source.GetId()));
    return !m_b.fail_connect && Slot::IHwConnectReceiver(source);
  }
  bool IHwDisconnectTransmitter(Slot& receiver) override {
    note("IHwDisconnectTransmitter");
    return Slot::IHwDisconnectTransmitter(receiver);
  }
  bool IHwDisconnectReceiver(Slot& source) override {
    note("IHwDisconnectReceiver");
    return Slot::IHwDisconnectReceiver(source);
  }
  int IGetTransmitChannel() override { return m_tx; }
  int IGetReceiveChannel() override { return m_rx; }
  void set_fail_connect(bool fail) { m_b.fail_connect = fail; }

private:
  void note(std::string const& what) { g_events.push_back(std::to_string(GetId()) + ":" + what); }
  int m_tx, m_rx;
  Behaviour m_b;
};

// Takes `ext` creates: transmitter and receiver are the slot's switch channels.
class ScriptedFactory : public SlotFactory {
public:
  std::string GetName() const override { return "scripted"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override {
    if (!params.ext_isSelected()) return nullptr;
    Behaviour const b = g_next;
    g_next = {};
    return new ScriptedSlot(params.get_ext().get_transmitter().getValue(), params.get_ext().get_receiver().getValue(), b);
  }
  void Query(LGCP::Resources& resources) override { resources.set_lin16(7); }
};

ScriptedFactory g_factory;

class SlotsTest : public ::testing::Test {
protected:
  SlotsTest() {
    g_events.clear();
    g_next = {};
    slots.set_release_pause(std::chrono::milliseconds(0));
    server.Bind(&watch);
    server.Bind(&slots);
    server.Activate(controller.link());
    test::run_until([&] { return watch.connects == 1; }, 100);
  }
  ~SlotsTest() override {
    server.Deactivate();
    EXPECT_TRUE(g_alive.empty()) << "every slot is gone with the controller";
  }

  // Sends a command and returns what came back for it: at least `expected` messages,
  // and the signals that came with them.
  std::vector<LGCP::Message> send(LGCP::Message const& m, std::size_t expected = 1) {
    return controller.exchange(m, expected);
  }
  static LGCP::Message create(int seq, int slot, int tx, int rx) {
    LGCP::Message m = command(seq, slot, [](LGCP::Command&) {});
    LGCP::ExtParams& ext = m.set_pdu().select_command().select_create().select_ext();
    ext.set_transmitter(tx);
    ext.set_receiver(rx);
    return m;
  }
  static LGCP::Message connect(int seq, int slot, unsigned target) {
    LGCP::Message m = command(seq, slot, [](LGCP::Command&) {});
    m.set_pdu().select_command().select_connect(target);
    return m;
  }
  ScriptedSlot* slot(unsigned id) { return dynamic_cast<ScriptedSlot*>(slots.Get(id)); }
  std::vector<std::string> switch_requests(std::string const& name) {
    std::vector<std::string> out;
    for (auto const& r : test::switch_board().requests("/dev/hal", name)) out.push_back(r.fields);
    return out;
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::SwitchBoardScope board;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  test_server::ConnectCounter watch;
  Slots& slots = Slots::instance();
};

void destroy(LGCP::Command& c) { c.select_destroy(); }
void disconnect(LGCP::Command& c) { c.select_disconnect(); }
void deactivate(LGCP::Command& c) { c.select_deactivate(); }

TEST_F(SlotsTest, CreateAnswersSuccessBeforeTheSlotsOwnSignals) {
  auto got = send(create(1, 3, 100, 101), 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_TRUE(got[1].get_pdu().signal_isSelected() && got[1].get_pdu().get_signal().activated_isSelected());
  EXPECT_EQ(got[1].get_slot().getValue(), 3u);
  EXPECT_EQ(g_factory.slots(), std::vector<Slot*>{slots.Get(3)});

  got = send(command(2, 4, [](LGCP::Command& c) { c.select_create().select_trunk(); }));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << "no factory takes it";

  got = send(command(3, -1, [](LGCP::Command& c) { c.select_query(); }), 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(is_success(got[0]));
  ASSERT_TRUE(got[1].get_pdu().signal_isSelected() && got[1].get_pdu().get_signal().query_isSelected());
  LGCP::Resources const& r = got[1].get_pdu().get_signal().get_query();
  EXPECT_EQ(r.get_lin16().getValue(), 7) << "every factory adds its part";
  EXPECT_TRUE(static_cast<bool>(r.get_mux()));
  EXPECT_FALSE(r.drvVersion_isPresent());
}

TEST_F(SlotsTest, ACreateOnAnOccupiedNumberReplacesASlotThatGoesAtOnce) {
  send(create(1, 3, 100, 101), 2);
  unsigned const first = slot(3)->serial;
  auto got = send(create(2, 3, 110, 111), 2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_FALSE(g_alive.count(first));
  EXPECT_EQ(g_alive, std::set<unsigned>{slot(3)->serial});
  EXPECT_EQ(g_factory.slots(), std::vector<Slot*>{slots.Get(3)}) << "the old slot left its factory";
  EXPECT_EQ(slots.live().size(), 1u);
}

TEST_F(SlotsTest, ADeferredDestroyIsAnsweredOnceWhenTheSlotHasReleased) {
  g_next.defer_release = true;
  send(create(1, 3, 100, 101), 2);
  ScriptedSlot* const s = slot(3);
  EXPECT_TRUE(send(command(7, 3, destroy)).empty()) << "no answer while the slot releases";
  auto got = send(command(8, 3, destroy));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::destroyInProgress);
  got = send(create(9, 3, 100, 101));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::destroyInProgress);
  got = send(command(10, 3, deactivate));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::unsupported) << "a releasing slot still gets its commands";

  s->on_release();
  got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_EQ(got[0].get_seq().getValue(), 7);
  EXPECT_EQ(got[0].get_slot().getValue(), 3u);
  EXPECT_EQ(slots.Get(3), nullptr);
  EXPECT_TRUE(g_factory.slots().empty());
  EXPECT_TRUE(controller.receive().empty()) << "exactly one answer";
}

TEST_F(SlotsTest, AFamilyThatReleasesInsideBeforeDestroyIsAnsweredAtOnce) {
  g_next.release_inline = true;
  send(create(1, 3, 100, 101), 2);
  auto got = send(command(2, 3, destroy));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_EQ(slots.Get(3), nullptr);
  EXPECT_TRUE(g_alive.empty());
}

TEST_F(SlotsTest, AReplacedSlotWhoseReleaseWaitsRefusesTheCreateAndEndsSilently) {
  g_next.defer_release = true;
  send(create(1, 3, 100, 101), 2);
  ScriptedSlot* const s = slot(3);
  auto got = send(create(2, 3, 110, 111));
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::slotIdBusy);
  s->on_release();
  EXPECT_TRUE(controller.receive().empty()) << "no destroy command waited: nothing is sent";
  EXPECT_EQ(slots.Get(3), nullptr);
  EXPECT_TRUE(g_factory.slots().empty());
}

TEST_F(SlotsTest, ErrorCausesOfTheSlotCommands) {
  // No encoder writes target 1024: target 1023's bytes with the last two changed.
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  ASSERT_TRUE(ASN1::encode(connect(1, 5, 1023), &env, std::back_inserter(bytes)));
  ASSERT_EQ(std::string(bytes.end() - 2, bytes.end()), "\x03\xFF");
  bytes.end()[-2] = 0x04;
  bytes.end()[-1] = 0x00;
  controller.send_raw(bytes);
  auto got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::invalidSlot) << "even from a slot that does not exist";
  send(create(2, 5, 100, 101), 2);
  got = send(connect(3, 5, 6));
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::slotNotExists);
  got = send(connect(4, 6, 5));
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::slotNotExists);
  for (auto fill : {destroy, disconnect, deactivate}) {
    got = send(command(5, 6, fill));
    EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::slotNotExists);
  }
  got = send(command(6, 5, [](LGCP::Command& c) { c.select_query(); }));
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unexpectedMsgType) << "query with a slot is not the table's";
  got = send(command(7, -1, destroy));
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unexpectedMsgType);

  g_next.output = false;
  send(create(8, 7, 200, 201), 2);
  got = send(connect(9, 7, 5));
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::connectFail);
  EXPECT_NE(streams.err().find("slot 07:test don't have output stream to 05:test"), std::string::npos) << streams.err();
}

TEST_F(SlotsTest, ASlotIsNeverDeletedWhileAnotherLinksToIt) {
  g_next.defer_release = true;
  send(create(1, 3, 100, 101), 2);
  send(create(2, 4, 200, 201), 2);
  ScriptedSlot* const releasing = slot(3);
  EXPECT_TRUE(send(command(3, 3, destroy)).empty());
  // Linked while it releases: slot 4 now feeds slot 3.
  auto got = send(connect(4, 4, 3), 3);
  // The stream signals of the rule come before the answer.
  ASSERT_EQ(got.size(), 3u);
  ASSERT_TRUE(is_success(got[2]));
  ASSERT_EQ(slot(4)->GetReceivers().size(), 1u);
  test::switch_board().clear_requests();
  releasing->on_release();
  EXPECT_TRUE(slot(4)->GetReceivers().empty()) << "the link went before the slot";
  EXPECT_EQ(switch_requests("ioctl write"), std::vector<std::string>{"output=101 byte=0xd5"});
}

TEST_F(SlotsTest, ControllerLossDeletesEverySlotWithItsLinksAndAnswersNothing) {
  send(create(1, 3, 100, 101), 2);
  g_next.defer_release = true;
  send(create(2, 4, 200, 201), 2);
  send(create(3, 5, 300, 301), 2);
  send(connect(4, 3, 4), 3);
  send(connect(5, 3, 5), 2);
  EXPECT_TRUE(send(command(6, 4, destroy)).empty());
  send(connect(7, 5, 4), 2);  // a link to the releasing slot
  slots.set_release_pause(std::chrono::milliseconds(30));
  auto const start = std::chrono::steady_clock::now();
  server.Deactivate();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30)) << "the pause for releases";
  EXPECT_TRUE(g_alive.empty());
  EXPECT_TRUE(slots.live().empty());
  for (unsigned id : {3u, 4u, 5u}) EXPECT_EQ(slots.Get(id), nullptr);
  EXPECT_TRUE(g_factory.slots().empty());
  EXPECT_TRUE(controller.pending().empty());
}

TEST_F(SlotsTest, LosingTheControllerWithoutSlotsStillPauses) {
  slots.set_release_pause(std::chrono::milliseconds(30));
  auto const start = std::chrono::steady_clock::now();
  server.Deactivate();
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// The connection rule, on slots of the table.
class ConnectRuleTest : public SlotsTest {
protected:
  ConnectRuleTest() {
    for (int id : {1, 2, 3}) send(create(id, id, 100 * id, 100 * id + 1), 2);
    g_events.clear();
    test::switch_board().clear_requests();
    streams.clear();
  }
};

TEST_F(ConnectRuleTest, TheReceiverConnectsAndTheTransmitterDisconnectsOnEqualPriority) {
  ASSERT_TRUE(Connect(*slot(1), *slot(2)));
  EXPECT_EQ(g_events, (std::vector<std::string>{"1:IOnOutputStream", "2:IOnInputStream", "2:IHwConnectReceiver 1"}));
  EXPECT_EQ(switch_requests("ioctl connect"), std::vector<std::string>{"output=201 input=100"});
  EXPECT_NE(streams.log().find("mux: slot 01:test [100] -> 02:test [201]"), std::string::npos) << streams.log();

  g_events.clear();
  EXPECT_TRUE(Connect(*slot(1), *slot(2))) << "already fed by it";
  EXPECT_TRUE(g_events.empty());

  ASSERT_TRUE(Connect(*slot(1), *slot(3)));
  EXPECT_EQ(std::count(g_events.begin(), g_events.end(), "1:IOnOutputStream"), 0) << "the output already streams";
  EXPECT_EQ(slot(1)->GetReceivers(), (std::vector<Slot*>{slots.Get(2), slots.Get(3)})) << "in connection order";

  g_events.clear();
  EXPECT_TRUE(Disconnect(*slot(2)));
  EXPECT_EQ(g_events, (std::vector<std::string>{"1:IHwDisconnectTransmitter", "2:IOnInputRelease"}));
  g_events.clear();
  EXPECT_TRUE(Disconnect(*slot(2))) << "no source: nothing to do";
  EXPECT_TRUE(g_events.empty());
}

TEST_F(ConnectRuleTest, MovingAReceiverReleasesTheOldLinkFirst) {
  ASSERT_TRUE(Connect(*slot(1), *slot(3)));
  g_events.clear();
  test::switch_board().clear_requests();
  ASSERT_TRUE(Connect(*slot(2), *slot(3)));
  EXPECT_EQ(g_events, (std::vector<std::string>{"2:IOnOutputStream", "1:IHwDisconnectTransmitter",
                                                "3:IHwConnectReceiver 2", "1:IOnOutputRelease"}));
  EXPECT_EQ(slot(3)->GetSource(), slots.Get(2));
  EXPECT_EQ(switch_requests("ioctl connect"), std::vector<std::string>{"output=301 input=200"});
}

TEST_F(ConnectRuleTest, AFailedMoveRestoresTheOldLink) {
  ASSERT_TRUE(Connect(*slot(1), *slot(3)));
  slot(3)->set_fail_connect(true);
  g_events.clear();
  test::switch_board().clear_requests();
  EXPECT_FALSE(Connect(*slot(2), *slot(3)));
  EXPECT_EQ(slot(3)->GetSource(), slots.Get(1)) << "the controller was told nothing changed";
  EXPECT_EQ(g_events, (std::vector<std::string>{"2:IOnOutputStream", "1:IHwDisconnectTransmitter",
                                                "3:IHwConnectReceiver 2", "3:IHwConnectReceiver 1",
                                                "2:IOnOutputRelease"}));
  EXPECT_NE(streams.err().find("slot 03:test lost its link from 01:test and could not get it back"), std::string::npos)
      << "the hardware refused the way back too";
}

TEST_F(SlotsTest, AHigherPrioritySourceConnectsAndDisconnects) {
  g_next.priority = 1;
  send(create(1, 1, 100, 101), 2);
  send(create(2, 2, 200, 201), 2);
  g_events.clear();
  ASSERT_TRUE(Connect(*slot(1), *slot(2)));
  EXPECT_EQ(g_events.back(), "1:IHwConnectTransmitter");
  g_events.clear();
  EXPECT_TRUE(Disconnect(*slot(2)));
  EXPECT_EQ(g_events.front(), "1:IHwDisconnectTransmitter");
}

}  // namespace
