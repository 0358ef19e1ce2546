#include "server/slots.h"

#include <algorithm>
#include <iostream>
#include <thread>

#include "foundation/child_wait.h"
#include "server/connect.h"
#include "server/slot.h"
#include "server/slot_factory.h"

namespace {
// Alternatives of LGCP::Command.
enum CommandNumber { Query = 0, ConnectTo = 2, DisconnectInput = 3, Create = 4, DestroySlot = 5, Activate = 6,
                     Deactivate = 7, UserData = 8, IoctlCommand = 9 };
constexpr int kTrunkStatus = 11;  // alternative of LGCP::Signal
}  // namespace

Slots& Slots::instance() {
  static Slots slots;
  return slots;
}

Slots::~Slots() {
  for (Slot* slot : m_live) delete slot;
}

bool Slots::OnCommand(LGCP::Command const& command) {
  int const number = command.currentSelection();
  if (!IsSlotPresent()) {
    if (number != Query) return false;
    Success();
    UpdateHardwareResources();
    return true;
  }
  unsigned const id = static_cast<unsigned>(GetSlot());
  Slot* const slot = m_table[id];
  switch (number) {
    case ConnectTo: {
      unsigned const target = command.get_connect().getValue();
      if (target >= kSlotCount) {
        Error(LGCP::ErrorCause::invalidSlot);
      } else if (!slot || !m_table[target]) {
        Error(LGCP::ErrorCause::slotNotExists);
      } else {
        Answer(Connect(*slot, *m_table[target]), LGCP::ErrorCause::connectFail);
      }
      return true;
    }
    case DisconnectInput:
      if (!slot)
        Error(LGCP::ErrorCause::slotNotExists);
      else
        Answer(Disconnect(*slot), LGCP::ErrorCause::disconnectFail);
      return true;
    case Create:
      CmdCreate(id, command.get_create());
      return true;
    case DestroySlot:
      CmdDestroy(slot);
      return true;
    case Activate:
    case Deactivate:
    case UserData:
    case IoctlCommand:
      if (!slot) {
        Error(LGCP::ErrorCause::slotNotExists);
        return true;
      }
      switch (number) {
        case Activate: Answer(slot->IActivate(command.get_activate()), LGCP::ErrorCause::unsupported); break;
        case Deactivate: Answer(slot->IDeactivate(), LGCP::ErrorCause::unsupported); break;
        case UserData: Answer(slot->IUserData(command.get_userData()), LGCP::ErrorCause::unsupported); break;
        default: Answer(slot->Ioctl(command.get_ioctl()), LGCP::ErrorCause::unsupported); break;
      }
      return true;
    default:
      return false;
  }
}

void Slots::Answer(bool ok, LGCP::ErrorCause::NamedNumber cause) {
  if (ok)
    Success();
  else
    Error(cause);
}

void Slots::CmdCreate(unsigned id, LGCP::CreateParams const& params) {
  if (Slot* const old = m_table[id]) {
    if (old->is_releasing()) {
      Error(LGCP::ErrorCause::destroyInProgress);
      return;
    }
    Destroy(old);
    if (m_table[id]) {
      Error(LGCP::ErrorCause::slotIdBusy);
      return;
    }
  }
  Slot* slot = nullptr;
  for (SlotFactory* factory = firstFactory; factory && !slot; factory = factory->next()) slot = factory->NewSlot(params);
  if (!slot) {
    Error(LGCP::ErrorCause::insufficientResources);
    return;
  }
  slot->SetId(static_cast<int>(id));
  m_live.push_back(slot);
  m_table[id] = slot;
  Success();
  slot->IAfterCreate();  // its signals follow the answer
}

void Slots::CmdDestroy(Slot* slot) {
  if (!slot) {
    Error(LGCP::ErrorCause::slotNotExists);
    return;
  }
  if (slot->is_releasing()) {
    Error(LGCP::ErrorCause::destroyInProgress);
    return;
  }
  if (Destroy(slot))
    Success();
  else
    slot->SetToken(delayResponse());
}

void Slots::DisconnectAll(Slot* slot) {
  Disconnect(*slot);
  for (std::size_t n = slot->GetReceivers().size(); n > 0; --n) {
    if (slot->GetReceivers().empty()) {
      std::cerr << "mux internal error: expected slots not exists." << std::endl;
      break;
    }
    Disconnect(*slot->GetReceivers().front());
  }
  if (!slot->GetReceivers().empty()) std::cerr << "mux internal error: unexpected slots exists." << std::endl;
}

bool Slots::Destroy(Slot* slot) {
  DisconnectAll(slot);
  slot->SetReleasing();
  m_destroying = slot;
  m_released_inline = false;
  bool const done = slot->BeforeDestroy() || m_released_inline;
  m_destroying = nullptr;
  if (!done) return false;
  Delete(slot);
  return true;
}

void Slots::on_release(Slot* slot) {
  // A family that releases from inside its own IBeforeDestroy has released at once: the
  // destroy in progress deletes it when BeforeDestroy returns.
  if (slot == m_destroying) {
    m_released_inline = true;
    return;
  }
  // Links made to the slot while it was releasing go before it does.
  DisconnectAll(slot);
  bool const set_aside = std::find(m_waiting.begin(), m_waiting.end(), slot) != m_waiting.end();
  if (slot->HasToken() && !set_aside) delayedSuccess(static_cast<unsigned>(slot->GetId()), slot->GetToken());
  Delete(slot);
}

void Slots::Delete(Slot* slot) {
  m_live.erase(std::remove(m_live.begin(), m_live.end(), slot), m_live.end());
  m_waiting.erase(std::remove(m_waiting.begin(), m_waiting.end(), slot), m_waiting.end());
  int const id = slot->GetId();
  if (id >= 0 && static_cast<unsigned>(id) < kSlotCount && m_table[id] == slot) m_table[id] = nullptr;
  if (SlotFactory* const factory = slot->GetSlotFactory()) factory->Remove(slot);
  delete slot;
}

void Slots::OnDisconnect() {
  while (!m_live.empty()) {
    Slot* const slot = m_live.front();
    if (slot->is_releasing() || !Destroy(slot)) {
      m_live.erase(m_live.begin());
      m_waiting.push_back(slot);
    }
  }
  std::this_thread::sleep_for(m_release_pause);
  // A child that ended in the pause is known to have ended before its slot goes: that
  // slot releases itself here, and leaves the waiting list as it does.
  ChildWait::HandOut();
  // Set aside slots go without an answer, and with every link and entry to them.
  while (!m_waiting.empty()) {
    Slot* const slot = m_waiting.front();
    DisconnectAll(slot);
    Delete(slot);
  }
}

void Slots::OnSignal(LGCP::Signal const& signal) {
  if (signal.currentSelection() != kTrunkStatus) return;
  for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) factory->SelfSignal(signal);
}

void Slots::UpdateHardwareResources() {
  LGCP::Signal signal;
  LGCP::Resources& resources = signal.select_query();
  resources.set_rtp_g729(0);
  resources.set_rtp_g723(0);
  resources.set_rtp_g711(0);
  resources.set_rtp_g711mcc(0);
  resources.set_modem(0);
  resources.set_mcc_data(0);
  resources.set_mcc_bri(0);
  resources.set_mcc_trans(0);
  resources.set_t38_instances(0);
  resources.set_digital_modems(0);
  resources.set_lin16(0);
  resources.set_mux(true);
  resources.omit_drvVersion();
  resources.set_echoBus().clear();
  resources.set_mixer().clear();
  for (SlotFactory* factory = firstFactory; factory; factory = factory->next()) factory->Query(resources);
  SendSignal(signal);
}
