#pragma once
// The factory of the modem slots. It counts the modems of the board's modem controller
// and makes a DSP modem slot for every modem create; the slot takes a modem only when
// its stream starts, so a create succeeds even when none is free. Records for the local
// PPP authentication agent go out through SendAuth, to the agent connection whose last
// record named the same session.

#include <ostream>
#include <string>
#include <vector>

#include "server/slot_factory.h"
#include "slots/modem/auth_records.h"

class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

class ModemFactory : public SlotFactory {
public:
  static ModemFactory& instance();

  std::string GetName() const override { return "Modem"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // Called by the slot's unbind().
  void ReleaseModemSlot(DspModemSlot* slot);
  // Sends a record to the agent connection of its session; false when there is none.
  bool SendAuth(attr const* record);

  // Counts the modems again.
  void IQuery();
  void update_modemDevices();

  int modems_found() const { return m_modems_found; }
  std::vector<ModemSlot*> const& modem_slots() const { return m_modem_slots; }
  // "modem[<modems found>,<live modem slots>]: "
  void PutHeader(std::ostream& os) const;

private:
  ModemFactory();

  std::vector<DspModemSlot*> m_dsp_slots;
  std::vector<HdlcModemSlot*> m_digital_slots;
  // Every live modem slot, in creation order: searched for sessions.
  std::vector<ModemSlot*> m_modem_slots;
  int m_modems_found = 0;
  // The synchronous network interfaces no slot holds.
  std::vector<std::string> m_free_interfaces;
};
