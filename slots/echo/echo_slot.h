#pragma once
// Echo slots: one channel of an echo bus, a plain switch endpoint on channel bus x 32 +
// channel, as the E1 trunk slots number theirs. The factory keeps which of the 16 buses
// serve echo slots; its scan finds none, so the resources report lists no bus and every
// echo create is declined.

#include "server/slot_factory.h"

class EchoFactory : public SlotFactory {
public:
  static constexpr unsigned kBuses = 16;

  static EchoFactory& instance();

  std::string GetName() const override { return "Echo"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // Marks every bus unavailable.
  void Scan();
  // For tests only: nothing in the system marks a bus, and no command reaches this.
  void set_bus_available(unsigned bus, bool available);

private:
  EchoFactory() { Scan(); }

  bool m_available[kBuses] = {};
};
