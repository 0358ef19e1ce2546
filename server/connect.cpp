#include "server/connect.h"

#include <iostream>

#include "hardware/hw_mux.h"
#include "server/slot.h"

bool llConnect(Slot& src, Slot& dst) {
  if (src.GetConnectionPriority() <= dst.GetConnectionPriority()) return dst.IHwConnectReceiver(src);
  return src.IHwConnectTransmitter(dst);
}

bool llDisconnect(Slot& dst) {
  Slot* const src = dst.GetSource();
  if (!src) return false;
  if (dst.GetConnectionPriority() <= src->GetConnectionPriority()) return src->IHwDisconnectTransmitter(dst);
  return dst.IHwDisconnectReceiver(*src);
}

bool Connect(Slot& src, Slot& dst) {
  if (dst.GetSource() == &src) return true;
  if (src.GetReceivers().empty()) {
    if (!src.IOnOutputStream()) {
      std::cerr << "slot " << src << " don't have output stream to " << dst << std::endl;
      return false;
    }
    src.OnChangeOutputStream(true);
  }
  Slot* const old = dst.GetSource();
  if (!old) {
    if (!dst.IOnInputStream()) {
      std::cerr << "slot " << dst << " don't have input stream from " << src << std::endl;
      return false;
    }
    dst.OnChangeInputStream(true);
  } else {
    llDisconnect(dst);
  }
  if (llConnect(src, dst)) {
    if (old) {
      dst.LogicalDisconnect();
      if (old->GetReceivers().empty()) old->IOnOutputRelease();
    }
    dst.LogicalConnect(src);
    return true;
  }
  if (old) {
    // The controller still believes the old link stands: make it true again.
    if (!llConnect(*old, dst))
      std::cerr << "slot " << dst << " lost its link from " << *old << " and could not get it back" << std::endl;
  } else {
    dst.IOnInputRelease();
  }
  if (src.GetReceivers().empty()) src.IOnOutputRelease();
  return false;
}

bool Disconnect(Slot& dst) {
  Slot* const old = dst.GetSource();
  if (!old) return true;
  bool const result = llDisconnect(dst);
  dst.LogicalDisconnect();
  dst.IOnInputRelease();
  if (old->GetReceivers().empty()) old->IOnOutputRelease();
  return result;
}

bool MuxConnect(Slot& src, Slot& dst) {
  int const tx = src.IGetTransmitChannel();
  int const rx = dst.IGetReceiveChannel();
  if (!HwMux::instance().Connect(tx, rx)) return false;
  std::clog << "mux: slot " << src << " [" << tx << "] -> " << dst << " [" << rx << "]" << std::endl;
  return true;
}

bool MuxDisconnect(Slot& dst) {
  int const rx = dst.IGetReceiveChannel();
  if (!HwMux::instance().Disconnect(rx)) return false;
  std::clog << "mux: disconnect slot " << dst << " [" << rx << "]" << std::endl;
  return true;
}
