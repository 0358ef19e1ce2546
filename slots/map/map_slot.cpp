#include "slots/map/map_slot.h"

#include <iostream>

#include "server/slots.h"

void MapSlot::IAfterCreate() {
  if (m_receive_port >= 0) OnChangeInputStream(true);
  if (m_transmit_port >= 0) OnChangeOutputStream(true);
}

bool MapSlot::IBeforeDestroy() {
  MapFactory::instance().ReleaseMapSlot(this);
  return true;
}

MapFactory& MapFactory::instance() {
  static MapFactory factory;
  return factory;
}

int MapFactory::GetMapTimeSlot(LGCP::SharedChannel const& channel) {
  // The schema bounds bus to 0..15 and channel to 0..127: always a shared-bus port.
  return HwMux::kBusPortBase + static_cast<int>(channel.get_bus().getValue() * 128 + channel.get_channel().getValue());
}

Slot* MapFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.map_isSelected()) return nullptr;
  LGCP::MapParams const& map = params.get_map();
  int const transmit = map.transmitter_isPresent() ? GetMapTimeSlot(map.get_transmitter()) : -1;
  int const receive = map.receiver_isPresent() ? GetMapTimeSlot(map.get_receiver()) : -1;
  auto* const slot = new MapSlot(transmit, receive);
  if (receive >= 0) Enter(slot, receive);
  if (transmit >= 0) Enter(slot, transmit);
  return slot;
}

void MapFactory::Enter(MapSlot* slot, int port) {
  MapSlot*& entry = m_owners[port - HwMux::kBusPortBase];
  // A slot that transmits and receives on one port owns it once: it must not replace
  // itself while it is being made.
  if (entry && entry != slot) {
    std::cerr << "map-slot: two slots require the same ipc-slot, remove old." << std::endl
              << "new slot " << *slot << " <-> old slot " << *entry << std::endl;
    MapSlot* const old = entry;
    Slots::instance().Destroy(old);  // its release clears the entry
  }
  entry = slot;
}

void MapFactory::ReleaseMapSlot(MapSlot* slot) {
  int const receive = slot->IGetReceiveChannel();
  int const transmit = slot->IGetTransmitChannel();
  if (receive >= 0) {
    std::clog << "map: disable map channel " << std::dec << receive - HwMux::kBusPortBase << std::endl;
    HwMux::instance().Disable(receive);
    MapSlot*& entry = m_owners[receive - HwMux::kBusPortBase];
    if (entry != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 1" << std::endl;
    entry = nullptr;
  }
  // A port the slot also receives on was released above.
  if (transmit >= 0 && transmit != receive) {
    MapSlot*& entry = m_owners[transmit - HwMux::kBusPortBase];
    if (entry != slot) std::cerr << "map-slot: internal error! MapFactory::ReleaseMapSlot() code 2" << std::endl;
    entry = nullptr;
  }
}
