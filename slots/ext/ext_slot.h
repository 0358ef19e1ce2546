#pragma once
// Ext slots: a channel of an extension board that reaches this board over the shared
// buses, its transmit and receive time slots named by bus offset (bus x 128 + time slot,
// port 8192 + offset). The receive side is opened and closed by activate and deactivate;
// the transmit port is never written to the switch by this slot.

#include "server/slot.h"
#include "server/slot_factory.h"

class ExtSlot : public Slot {
public:
  // Offsets from the controller, unchecked: the switch refuses what is no port.
  ExtSlot(unsigned transmit_port, unsigned receive_port)
      : m_transmit_port(transmit_port), m_receive_port(receive_port) {}

  void IAfterCreate() override { OnChangeOutputStream(true); }
  bool IBeforeDestroy() override;
  bool IActivate(TERM::TermActivateParams const&) override;
  bool IDeactivate() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return GetInputStream(); }
  int IGetTransmitChannel() override { return static_cast<int>(m_transmit_port); }
  int IGetReceiveChannel() override { return static_cast<int>(m_receive_port); }
  std::string GetName() const override { return "bri"; }

private:
  unsigned m_transmit_port;
  unsigned m_receive_port;
};

class ExtFactory : public SlotFactory {
public:
  static ExtFactory& instance();

  std::string GetName() const override { return "Ext"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

private:
  ExtFactory() = default;
};
