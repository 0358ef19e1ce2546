#include "slots/modem/modem_factory.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <iostream>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "foundation/fd.h"
#include "hardware/device_names.h"
#include "slots/modem/dsp_modem_slot.h"

namespace {

template <class T>
void erase(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

ModemFactory& ModemFactory::instance() {
  static ModemFactory factory;
  return factory;
}

ModemFactory::ModemFactory() { IQuery(); }

void ModemFactory::PutHeader(std::ostream& os) const {
  os << "modem[" << std::dec << m_modems_found << ',' << m_modem_slots.size() << "]: ";
}

void ModemFactory::IQuery() { update_modemDevices(); }

void ModemFactory::update_modemDevices() {
  m_modems_found = 0;
  Board::Io& io = Board::io();
  char const* const name = GetModemDevName();
  Fd const device(io.open(name, O_RDWR));
  if (!device) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to open " << ext::quoted(name) << " : " << error << std::endl;
    return;
  }
  for (int previous = -1;;) {
    int const next = io.ioctl_value(device.lowlevel_fd(), Board::MCTL_NEXT_MODEM, static_cast<std::uint32_t>(previous));
    if (next < 0) {
      Errno const error;
      if (error.value() != ENODEV) std::cerr << ext::header(this) << "enum fail: " << error << std::endl;
      return;
    }
    // A driver that does not move on would hold this loop for ever.
    if (next <= previous) {
      std::cerr << ext::header(this) << "enum fail: modem numbers out of order" << std::endl;
      return;
    }
    ++m_modems_found;
    previous = next;
  }
}

void ModemFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_modem(m_modems_found);
  resources.set_digital_modems(static_cast<int>(m_free_interfaces.size()));
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.modem_isSelected()) return nullptr;
  auto* const slot = new DspModemSlot(params.get_modem());
  m_modem_slots.push_back(slot);
  m_dsp_slots.push_back(slot);
  return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  erase<ModemSlot>(m_modem_slots, slot);
  erase(m_dsp_slots, slot);
}

bool ModemFactory::SendAuth(attr const* record) {
  // No agent connection yet: every session is unknown.
  std::clog << ext::header(this) << "send error: unknown auth " << std::dec << record->session << " session." << std::endl;
  return false;
}
