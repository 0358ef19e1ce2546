#pragma once
// A factory of a family whose slots are not built here: it takes its place in the
// registry, reports no capacity and declines every create.

#include <string>

#include "server/slot_factory.h"

class DecliningFactory : public SlotFactory {
public:
  explicit DecliningFactory(char const* name) : m_name(name) {}
  std::string GetName() const override { return m_name; }
  Slot* INewSlot(LGCP::CreateParams const&) override { return nullptr; }
  void Query(LGCP::Resources&) override {}

private:
  char const* m_name;
};
