// The layering rules: where activation, deactivation, data and status go, and who hears.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/protocol.h"

namespace {

using Log = std::vector<std::string>;

struct Layer : Protocol {
  Layer(Log& l, std::string n) : log(l), label(std::move(n)), layer_name(label.c_str()) {}
  ~Layer() override { log.push_back(label + ".deleted"); }
  Protocol_name const& name() const override { return layer_name; }
  bool compare_name(Protocol_name const& n) const override { return findable && layer_name.compare(n); }
  void local_activate() override {
    log.push_back(label + ".local_activate");
    Protocol::local_activate();
  }
  void local_deactivate() override {
    log.push_back(label + ".local_deactivate");
    Protocol::local_deactivate();
  }
  void message(Packet& p) override {
    log.push_back(label + ".message");
    p.put8(static_cast<std::uint8_t>(label[0]));
    transmit(p);
  }
  void receive(Packet& p) override {
    log.push_back(label + ".receive");
    on_message(p);
  }
  void local_prepare_head(Packet& p) override { p.reserve_head(head); }

  Log& log;
  std::string label;
  Protocol_name_str layer_name;
  unsigned head = 0;
  bool findable = false;
};

struct Owner : ProtocolsList {
  explicit Owner(Log& l) : log(l) {}
  void on_activated(Protocol* layer) override { log.push_back("owner.activated:" + std::string(layer->name().name())); }
  void on_deactivated(Protocol* layer, ProtocolStatus status) override {
    log.push_back("owner.deactivated:" + std::string(layer->name().name()) + ":" + status->message());
    last_status = status;
  }
  void on_message(Packet& p) override { log.push_back("owner.message:" + p.text()); }
  void transmit(Packet& p) override { log.push_back("owner.transmit:" + p.text()); }
  void on_status(ProtocolStatus status) override { log.push_back("owner.status:" + status->message()); }
  Log& log;
  ProtocolStatus last_status;
};

class StackTest : public ::testing::Test {
protected:
  StackTest() {
    bottom = static_cast<Layer*>(owner.add_protocol_tail(new Layer(log, "bottom")));
    top = static_cast<Layer*>(owner.add_protocol_tail(new Layer(log, "top")));
  }
  Log log;
  Owner owner{log};
  Layer* bottom;
  Layer* top;
};

TEST_F(StackTest, ActivationStartsAtTheBottomAndIsConfirmedOnceFromTheTop) {
  top->activate();
  EXPECT_EQ(log, (Log{"bottom.local_activate", "top.local_activate", "owner.activated:top"}));
}

TEST_F(StackTest, DeactivationRunsDownAndIsReportedByTheBottom) {
  top->deactivate();
  EXPECT_EQ(log, (Log{"top.local_deactivate", "bottom.local_deactivate", "owner.deactivated:bottom:success"}));
  EXPECT_EQ(owner.last_status->layer(), bottom);
}

TEST_F(StackTest, FailureTravelsUpUnchangedWithoutLocalDeactivation) {
  ProtocolStatus failure(new Protocol_status_error(bottom, "broken"));
  bottom->on_deactivate(failure);
  EXPECT_EQ(log, (Log{"owner.deactivated:top:broken"}));
  EXPECT_EQ(owner.last_status.get(), failure.get()) << "the very status object the failing layer made";
}

TEST_F(StackTest, DataAndStatusPaths) {
  Packet p;
  top->prepare_head(p);
  top->message(p);
  Packet in;
  in.reserve_head(0);
  in.put8(0x42);
  bottom->receive(in);
  bottom->on_status(ProtocolStatus(new Protocol_status_success(bottom, "fine")));
  EXPECT_EQ(log, (Log{"top.message", "bottom.message", "owner.transmit:74 62", "bottom.receive", "top.receive",
                      "owner.message:42", "owner.status:fine"}));
}

TEST_F(StackTest, HeadRoomIsTheSumOfEveryLayerBelow) {
  bottom->head = 3;
  top->head = 5;
  Packet p;
  top->prepare_head(p);
  EXPECT_EQ(p._headroom(), 8u);
}

TEST_F(StackTest, InitializationStopsAtTheFirstFailure) {
  EXPECT_TRUE(top->initialize()->success());
  struct Failing : Protocol {
    ProtocolStatus local_initialize() override { return ProtocolStatus(new Protocol_status_error(this, "no")); }
  };
  owner.add_protocol_head(new Failing);
  EXPECT_EQ(top->initialize()->message(), "no");
}

TEST_F(StackTest, SearchFindsOnlyLayersThatWantToBeFound) {
  EXPECT_EQ(owner.search(Protocol_name_str("top")), nullptr);
  top->findable = true;
  EXPECT_EQ(owner.search(Protocol_name_str("top")), top);
  EXPECT_EQ(owner.search(Protocol_name_null()), nullptr);
}

TEST(Stack, DestructionDeletesFromTheTopAndLayersLeaveOnTheirOwn) {
  Log log;
  {
    Owner owner(log);
    owner.add_protocol_tail(new Layer(log, "a"));
    Layer* b = static_cast<Layer*>(owner.add_protocol_tail(new Layer(log, "b")));
    owner.add_protocol_tail(new Layer(log, "c"));
    delete b;  // unlinks itself
    log.push_back("--");
  }
  EXPECT_EQ(log, (Log{"b.deleted", "--", "c.deleted", "a.deleted"}));
}

TEST(Names, CompareByKindAndText) {
  Protocol_name_str a("x"), b("x"), c("y"), none(nullptr);
  Protocol_name_null n1, n2;
  EXPECT_TRUE(a.compare(b));
  EXPECT_FALSE(a.compare(c));
  EXPECT_FALSE(a.compare(n1));
  EXPECT_FALSE(n1.compare(a));
  EXPECT_TRUE(n1.compare(n2));
  EXPECT_STREQ(none.name(), "(no name)");
  EXPECT_STREQ(Protocol().name().name(), "(no name)");
}

// A family is one layer of an outer stack: it forwards into its members and reports
// from them as a single layer.
TEST(Family, ActsAsOneLayerOfTheOuterStack) {
  Log log;
  Owner outer(log);
  auto* below = static_cast<Layer*>(outer.add_protocol_tail(new Layer(log, "below")));
  auto* family = static_cast<ProtocolsFamily*>(outer.add_protocol_tail(new ProtocolsFamily));
  family->add_protocol_tail(new Layer(log, "m1"));
  auto* m2 = static_cast<Layer*>(family->add_protocol_tail(new Layer(log, "m2")));

  family->activate();
  EXPECT_EQ(log, (Log{"below.local_activate", "m1.local_activate", "m2.local_activate", "owner.activated:(no name)"}));
  log.clear();

  Packet p;
  family->prepare_head(p);
  family->message(p);
  EXPECT_EQ(log, (Log{"m2.message", "m1.message", "below.message", "owner.transmit:6D 6D 62"}));
  log.clear();

  family->deactivate();
  EXPECT_EQ(log, (Log{"m2.local_deactivate", "m1.local_deactivate", "below.local_deactivate",
                      "owner.deactivated:below:success"}));
  log.clear();

  // Only the top member's activation counts.
  family->on_activated(m2->lower());
  EXPECT_TRUE(log.empty());
  (void)below;
}

TEST(Family, EmptyFamilyDoesNothingAndFailsToInitialize) {
  Log log;
  Owner outer(log);
  auto* family = static_cast<ProtocolsFamily*>(outer.add_protocol_tail(new ProtocolsFamily));
  family->activate();
  family->deactivate();
  Packet p;
  family->prepare_head(p);
  EXPECT_TRUE(p.null());
  family->message(p);
  family->receive(p);
  EXPECT_TRUE(log.empty());
  ProtocolStatus status = family->initialize();
  EXPECT_FALSE(status->success());
  EXPECT_EQ(status->message(), "error");
}

}  // namespace
