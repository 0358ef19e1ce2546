#pragma once
// One factory per slot family. All factories form one registry, a list whose head is
// firstFactory: a factory links itself in at the head, so the last one made is asked
// first, and the trunk factories made during static initialisation are asked last.

#include <string>
#include <vector>

#include "schemas/lgcp.h"

class Slot;

class SlotFactory {
public:
  SlotFactory();
  SlotFactory(SlotFactory const&) = delete;
  SlotFactory& operator=(SlotFactory const&) = delete;
  // Factories live until the process exits and are never unlinked.
  virtual ~SlotFactory() = default;

  virtual std::string GetName() const = 0;
  // A new slot, or null when the parameters are not this family's.
  virtual Slot* INewSlot(LGCP::CreateParams const& params) = 0;
  // Adds this family's capacity to the resources report.
  virtual void Query(LGCP::Resources& resources) = 0;
  virtual void SelfSignal(LGCP::Signal const&) {}

  Slot* NewSlot(LGCP::CreateParams const& params);
  void Remove(Slot* slot);
  std::vector<Slot*> const& slots() const { return m_slots; }
  SlotFactory* next() const { return m_next; }

private:
  std::vector<Slot*> m_slots;
  SlotFactory* m_next;
};

extern SlotFactory* firstFactory;
