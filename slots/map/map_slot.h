#pragma once
// Map slots: a handle on one or two time slots of the shared buses (port 8192 + bus x
// 128 + time slot), one that other slots take bytes from and one that the switch feeds,
// connected like any other endpoint. One owner table keeps every shared-bus port with at
// most one map slot, whichever way it uses it: a newcomer takes the port over and the
// older slot is destroyed.

#include "hardware/hw_mux.h"
#include "server/slot.h"
#include "server/slot_factory.h"

class MapSlot : public Slot {
public:
  // A port of -1 is absent.
  MapSlot(int transmit_port, int receive_port) : m_transmit_port(transmit_port), m_receive_port(receive_port) {}

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return m_transmit_port >= 0; }
  bool IOnInputStream() override { return m_receive_port >= 0; }
  int IGetTransmitChannel() override { return m_transmit_port; }
  int IGetReceiveChannel() override { return m_receive_port; }
  std::string GetName() const override { return "map"; }

private:
  int m_transmit_port;
  int m_receive_port;
};

class MapFactory : public SlotFactory {
public:
  static MapFactory& instance();

  std::string GetName() const override { return "Map"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  // Frees the slot's ports; its receive port stops driving the bus.
  void ReleaseMapSlot(MapSlot* slot);

  static int GetMapTimeSlot(LGCP::SharedChannel const& channel);

private:
  MapFactory() = default;
  // Takes the port from an older slot, which is destroyed.
  void Enter(MapSlot* slot, int port);

  MapSlot* m_owners[HwMux::kShadowSize] = {};
};
