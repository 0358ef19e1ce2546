#include "slots/ext/ext_slot.h"

#include <iostream>

#include "hardware/hw_mux.h"

bool ExtSlot::IBeforeDestroy() {
  HwMux::instance().Disable(IGetReceiveChannel());
  return true;
}

bool ExtSlot::IActivate(TERM::TermActivateParams const&) {
  OnChangeInputStream(true);
  // Over a live feed the idle byte would silence a link the slot table keeps, and
  // connecting the same source again changes nothing.
  if (!GetSource()) HwMux::instance().Disconnect(IGetReceiveChannel());
  return true;
}

bool ExtSlot::IDeactivate() {
  OnChangeInputStream(false);  // disconnects the source first
  HwMux::instance().Disable(IGetReceiveChannel());
  return true;
}

ExtFactory& ExtFactory::instance() {
  static ExtFactory factory;
  return factory;
}

Slot* ExtFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.ext_isSelected()) return nullptr;
  LGCP::ExtParams const& ext = params.get_ext();
  // Below the shared buses lie the board's own switch outputs, the trunks' among them.
  for (ASN1::INTEGER const* offset : {&ext.get_transmitter(), &ext.get_receiver()}) {
    if (offset->getValue() < 0) {
      std::cerr << "ext: negative offset " << offset->getValue() << " refused" << std::endl;
      return nullptr;
    }
  }
  // In unsigned arithmetic: any offset gives a number, and no signed overflow.
  auto const port = [](ASN1::INTEGER const& offset) {
    return static_cast<unsigned>(offset.getValue()) + static_cast<unsigned>(HwMux::kBusPortBase);
  };
  return new ExtSlot(port(ext.get_transmitter()), port(ext.get_receiver()));
}
