#include "slots/trunk/trunk_slot.h"

#include <iostream>

#include "server/slots.h"

void TrunkSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool TrunkSlot::IBeforeDestroy() {
  if (auto* factory = dynamic_cast<TrunkFactory*>(GetSlotFactory())) factory->ReleaseTrunkSlot(this);
  return true;
}

namespace {
int accept(LGCP::TrunkParams const& params, unsigned trunk, unsigned timeslots) {
  if (params.get_trunk().getValue() != trunk || params.get_timeslot().getValue() >= timeslots) return -1;
  return static_cast<int>(params.get_timeslot().getValue());
}
}  // namespace

int TrunkFactory::Accept(LGCP::CreateParams const& params) const {
  return params.trunk_isSelected() ? accept(params.get_trunk(), m_trunk, m_timeslots) : -1;
}

int TrunkBRIFactory::Accept(LGCP::CreateParams const& params) const {
  return params.trunk_bri_isSelected() ? accept(params.get_trunk_bri(), m_trunk, m_timeslots) : -1;
}

Slot* TrunkFactory::INewSlot(LGCP::CreateParams const& params) {
  int const timeslot = Accept(params);
  if (timeslot < 0) return nullptr;
  if (TrunkSlot* const old = m_slots[timeslot]) {
    std::cerr << "trunk-slot: two slots require the same timeslot, remove old." << std::endl
              << " old slot " << *old << std::endl;
    Slots::instance().Destroy(old);
  }
  TrunkSlot* const slot = Make(m_channel_base + static_cast<unsigned>(timeslot));
  m_slots[timeslot] = slot;
  return slot;
}

void TrunkFactory::ReleaseTrunkSlot(TrunkSlot* slot) {
  int const timeslot = slot->GetTimeSlot();
  if (timeslot >= 0 && timeslot < 32 && m_slots[timeslot] == slot) m_slots[timeslot] = nullptr;
}
