#include "slots/mixer/mixer.h"

#include <algorithm>
#include <iostream>

#include "foundation/ext.h"
#include "foundation/fd.h"
#include "slots/mixer/mixer_ctl.h"
#include "slots/mixer/mixer_factory.h"
#include "slots/mixer/mixer_slots.h"

namespace Mixer {

unsigned Mixer::s_instances = 0;

namespace {

constexpr std::int32_t kTdm = 0;  // mix_slot type of a TDM channel

Board::mix_slot tdm_slot(int unit, int number) { return {unit, kTdm, number}; }

}  // namespace

Mixer::Mixer(int id) : m_id(id) { ++s_instances; }

Mixer::~Mixer() { --s_instances; }

void Mixer::PutHeader(std::ostream& os) const { os << "mixer [" << std::dec << m_id << "]: "; }

int Mixer::TdmChannel(LGCP::MixerChannel const& channel) {
  if (!channel.tdm_isSelected()) return -1;
  int const number = channel.get_tdm().getValue();
  return number >= 0 && number < MixerFactory::instance().tdm_channels() ? number : -1;
}

bool Mixer::Channel2Slot(LGCP::MixerChannel const& channel, Board::mix_slot& slot) const {
  slot = {};
  slot.dev_no = m_id;
  // Only TDM channels have a number the driver knows.
  if (!channel.tdm_isSelected()) return false;
  slot.type = kTdm;
  slot.number = channel.get_tdm().getValue();
  return true;
}

int Mixer::channel2timeslot(int channel) {
  Board::mix_slot slot = tdm_slot(m_id, channel);
  int const timeslot = mixer_ctl(Board::MIX_TDM, &slot);
  if (timeslot < 0) {
    Errno const error;
    std::cerr << ext::header(this) << "MIX_TDM" << " dev_no=" << m_id << " type=" << kTdm << " number=" << channel
              << " fail : " << error << std::endl;
    return -1;
  }
  return timeslot;
}

bool Mixer::ClearTX(LGCP::MixerChannel const& channel) {
  Board::mix_slot slot;
  if (!Channel2Slot(channel, slot)) {
    std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
    return false;
  }
  if (mixer_ctl(Board::MIX_RX_CLEAR, &slot) < 0) {
    Errno const error;
    std::cerr << ext::header(this) << "MIX_RX_CLEAR" << " dev_no=" << slot.dev_no << " type=" << slot.type
              << " number=" << slot.number << " fail : " << error << std::endl;
    return false;
  }
  return true;
}

bool Mixer::AddLink(Board::mix_slot const& rx, Board::mix_slot const& tx, int gain) {
  Board::mix_rx_param link{rx, tx, gain};
  if (mixer_ctl(Board::MIX_RX_ADD, &link) < 0) {
    Errno const error;
    std::cerr << ext::header(this) << "MIX_RX_ADD" << " fail : " << error << std::endl;
    return false;
  }
  return true;
}

bool Mixer::SetTX(LGCP::MixerOutParams const& params) {
  if (!ClearTX(params.get_channel())) return false;
  Board::mix_slot rx, tx;
  if (params.get_inputs().empty()) {
    // An output without inputs carries its own input.
    if (!Channel2Slot(params.get_channel(), rx)) {
      std::cerr << ext::header(this) << "SetTX error: mixer translation fail" << std::endl;
      return false;
    }
    return AddLink(rx, rx, kOwnGain);
  }
  // Links added before a failure stay in the driver.
  for (LGCP::MixerInput const& input : params.get_inputs()) {
    if (!Channel2Slot(params.get_channel(), rx)) {
      std::cerr << ext::header(this) << "SetTX error: translation fail [1]" << std::endl;
      return false;
    }
    if (!Channel2Slot(input.get_channel(), tx)) {
      std::cerr << ext::header(this) << "SetTX error: translation fail [2]" << std::endl;
      return false;
    }
    if (!AddLink(rx, tx, input.get_gain().getValue())) return false;
  }
  return true;
}

TdmInput* Mixer::New(LGCP::MixerInParams const& params) {
  int const channel = TdmChannel(params.get_channel());
  if (channel < 0) return nullptr;
  int const timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  auto* const slot = new TdmInput(*this, channel, timeslot);
  if (params.summator_isPresent()) {
    LGCP::MixerChannel const& summator = params.get_summator();
    if (summator.tdm_isSelected()) {
      // Not range-checked: the driver judges it; a failure leaves the input made.
      slot->m_summator = summator.get_tdm().getValue();
      AddLink(tdm_slot(m_id, slot->m_summator), tdm_slot(m_id, channel), kOwnGain);
    } else {
      std::cerr << ext::header(this) << "wrong summator coding !" << std::endl;
    }
  }
  if (params.ecm_isPresent()) {
    LGCP::EchoCancelMode const& ecm = params.get_ecm();
    slot->echoCancel(ecm.get_ec() || ecm.get_es());
  }
  Register(slot);
  return slot;
}

TdmOutput* Mixer::New(LGCP::MixerOutParams const& params) {
  // The channel is judged before its sum is touched: clearing the sum of a channel the
  // unit refuses could silence a summator that an input feeds.
  if (!params.get_channel().tdm_isSelected()) {
    std::clog << ext::header(this) << "ClearTX error: translation fail" << std::endl;
    return nullptr;
  }
  int const channel = TdmChannel(params.get_channel());
  if (channel < 0) return nullptr;
  if (!SetTX(params)) return nullptr;
  int const timeslot = channel2timeslot(channel);
  if (timeslot < 0) return nullptr;
  auto* const slot = new TdmOutput(*this, channel, timeslot);
  Register(slot);
  return slot;
}

void Mixer::Release(TdmInput& slot) {
  if (!slot.m_passed_on) slot.StopDigits();
  // The unit listed under this number now owns the links of these channels.
  if (slot.m_summator >= 0 && !Successor()) {
    Board::mix_rx_param link{tdm_slot(m_id, slot.m_summator), tdm_slot(m_id, slot.channel()), 0};
    if (mixer_ctl(Board::MIX_RX_REMOVE, &link) < 0) {
      Errno const error;
      std::cerr << ext::header(this) << "MIX_RX_REMOVE" << " rx.number=" << slot.m_summator
                << " tx.number=" << slot.channel() << " fail : " << error << std::endl;
    }
  }
  UnRegister(&slot);
}

void Mixer::Release(TdmOutput& slot) {
  if (!slot.m_passed_on) {
    slot.StopDigits();
    // A tone left on would sound into the next slot on this timeslot.
    if (slot.tone_on()) slot.StopTone();
  }
  if (!Successor()) {
    std::clog << ext::header(this) << "clear tdm output " << slot.channel() << std::endl;
    Board::mix_slot clear = tdm_slot(m_id, slot.channel());
    mixer_ctl(Board::MIX_RX_CLEAR, &clear);
  }
  UnRegister(&slot);
}

void Mixer::Reset() {
  std::clog << ext::header(this) << "clear all inputs" << std::endl;
  int const channels = MixerFactory::instance().tdm_channels();
  int failures = 0;
  for (int number = 0; number < channels; ++number) {
    Board::mix_slot slot = tdm_slot(m_id, number);
    if (mixer_ctl(Board::MIX_RX_CLEAR, &slot) < 0) ++failures;
  }
  if (failures) std::cerr << ext::header(this) << "reset fail: " << failures << " errors." << std::endl;
}

void Mixer::Clear() {
  for (MixerSlot* slot : m_slots) slot->OnAbort(0);
  CheckForDestroy();
}

MixerSlot* Mixer::Register(MixerSlot* slot) {
  m_slots.push_back(slot);
  return slot;
}

void Mixer::UnRegister(MixerSlot* slot) {
  m_slots.erase(std::remove(m_slots.begin(), m_slots.end(), slot), m_slots.end());
  CheckForDestroy();
}

void Mixer::CheckForDestroy() {
  if (m_slots.empty() && m_dead) delete this;
}

Mixer const* Mixer::Successor() const { return m_dead ? MixerFactory::instance().findMixer(m_id) : nullptr; }

bool Mixer::HasInputOn(int channel) const {
  bool const own = std::any_of(m_slots.begin(), m_slots.end(), [channel](MixerSlot* slot) {
    auto const* input = dynamic_cast<TdmInput const*>(slot);
    return input && input->channel() == channel;
  });
  Mixer const* const listed = Successor();
  return own || (listed && listed->HasInputOn(channel));
}

bool Mixer::SuccessorHolds(int timeslot) const {
  Mixer const* const listed = Successor();
  return listed && std::any_of(listed->m_slots.begin(), listed->m_slots.end(), [timeslot](MixerSlot* slot) {
           auto const* tdm = dynamic_cast<TdmSlot const*>(slot);
           return tdm && tdm->timeslot() == timeslot;
         });
}

}  // namespace Mixer
