#include "slots/modem/hdlc_modem_slot.h"

#include <net/if.h>

#include <iostream>

#include "foundation/ext.h"
#include "slots/modem/hdlc_interface.h"
#include "slots/modem/modem_factory.h"

namespace {

constexpr char kOptions[] = "/usr/local/etc/ppp/ioptions";

}  // namespace

HdlcModemSlot::~HdlcModemSlot() {
  // A slot deleted without its release (at controller loss) gives its interface back too.
  unbind();
  pppd_kill();
  Teardown();
}

void HdlcModemSlot::unbind() {
  if (!TakeBinding()) return;
  if (ModemFactory* const factory = GetSlotFactory()) factory->ReleaseModemSlot(this);
}

bool HdlcModemSlot::IOnOutputStream() {
  initModem();
  return m_channel >= 0;
}

bool HdlcModemSlot::IOnInputStream() {
  initModem();
  return m_channel >= 0;
}

void HdlcModemSlot::initModem() {
  if (pppd_executing()) return;
  HdlcInterface net;
  if (!net.is_open()) return;
  std::uint32_t map = 0;
  if (net.timeslots(m_interface, map) != 0) {
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_GET_IFACE fail!" << std::endl;
    return;
  }
  m_channel = static_cast<int>(map);
  if (net.set_ppp(m_interface) != 0) {
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_PPP fail!" << std::endl;
    return;
  }
  pppd_exec(m_interface.c_str(), kOptions);
}

void HdlcModemSlot::Teardown() {
  HdlcInterface net;
  if (!net.is_open()) return;
  short flags = 0;
  if (net.flags(m_interface, flags) != 0) {
    std::cerr << ext::header(this) << "SIOCGIFFLAGS fail!!!" << std::endl;
    return;
  }
  if (net.set_flags(m_interface, static_cast<short>(flags & ~IFF_UP)) != 0) {
    std::cerr << ext::header(this) << "SIOCSIFFLAGS fail!!!" << std::endl;
    return;
  }
  if (net.set_raw_hdlc(m_interface) != 0)
    std::cerr << ext::header(this) << "SIOCWANDEV/IF_PROTO_HDLC fail!" << std::endl;
}
