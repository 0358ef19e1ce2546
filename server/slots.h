#pragma once
// The slot table: owns every slot the controller created, executes the slot commands,
// drives destruction including the deferred kind, answers the resources query and shows
// trunk status reports to the factories before the controller sees them.

#include <chrono>
#include <vector>

#include "server/control_server.h"

class Slot;

class Slots : public CtrlSrv::Service {
public:
  static constexpr unsigned kSlotCount = 1024;

  static Slots& instance();

  void OnConnect() override {}
  void OnDisconnect() override;
  bool OnCommand(LGCP::Command const& command) override;
  void OnSignal(LGCP::Signal const& signal) override;

  // True when the slot is gone; false when its release goes on (it stays in the table).
  bool Destroy(Slot* slot);
  // A deferred release has finished.
  void on_release(Slot* slot);
  void UpdateHardwareResources();

  Slot* Get(unsigned id) const { return id < kSlotCount ? m_table[id] : nullptr; }
  std::vector<Slot*> const& live() const { return m_live; }

  // The pause after a controller loss, for deferred releases to finish (tests shorten it).
  void set_release_pause(std::chrono::milliseconds pause) { m_release_pause = pause; }

private:
  Slots() = default;
  ~Slots() override;

  void CmdCreate(unsigned id, LGCP::CreateParams const& params);
  void CmdDestroy(Slot* slot);
  void Answer(bool ok, LGCP::ErrorCause::NamedNumber cause);
  // The disconnect steps of a destroy: the slot's input and every receiver.
  static void DisconnectAll(Slot* slot);
  // Removes the slot from the table, the live and waiting lists and its factory, and
  // deletes it.
  void Delete(Slot* slot);

  Slot* m_table[kSlotCount] = {};
  std::vector<Slot*> m_live;
  // Slots whose release had not finished when the controller went, until they go too.
  std::vector<Slot*> m_waiting;
  // The slot inside BeforeDestroy(), and whether it released at once from in there.
  Slot* m_destroying = nullptr;
  bool m_released_inline = false;
  std::chrono::milliseconds m_release_pause{1000};
};
