#include "server/slot_factory.h"

#include <algorithm>

#include "server/slot.h"

// Constant-initialised: factories made during static initialisation link in before any
// dynamic initialiser could reset it.
constinit SlotFactory* firstFactory = nullptr;

SlotFactory::SlotFactory() : m_next(firstFactory) { firstFactory = this; }

Slot* SlotFactory::NewSlot(LGCP::CreateParams const& params) {
  Slot* const slot = INewSlot(params);
  if (!slot) return nullptr;
  slot->SetSlotFactory(this);
  m_slots.push_back(slot);
  return slot;
}

void SlotFactory::Remove(Slot* slot) { m_slots.erase(std::remove(m_slots.begin(), m_slots.end(), slot), m_slots.end()); }
