#include "server/slot.h"

#include <algorithm>
#include <iomanip>
#include <iostream>

#include "server/connect.h"
#include "server/slot_factory.h"
#include "server/slots.h"

bool Slot::IHwConnectTransmitter(Slot& receiver) { return MuxConnect(*this, receiver); }
bool Slot::IHwConnectReceiver(Slot& source) { return MuxConnect(source, *this); }
bool Slot::IHwDisconnectTransmitter(Slot& receiver) { return MuxDisconnect(receiver); }
bool Slot::IHwDisconnectReceiver(Slot&) { return MuxDisconnect(*this); }

void Slot::Put(std::ostream& os) const {
  if (m_id >= 0 && m_id <= 1023)
    os << std::setw(2) << std::setfill('0') << std::dec << m_id << std::setfill(' ');
  else if (m_id == -1)
    os << "na";
  else
    os << 'i' << std::dec << m_id;
  os << ':' << GetName();
}

std::ostream& operator<<(std::ostream& os, Slot const& slot) {
  slot.Put(os);
  return os;
}

void Slot::SendSignal(LGCP::Signal const& signal) { Slots::instance().SendSignal(static_cast<unsigned>(m_id), signal); }

void Slot::OnTonecEvent(LGCP::TonecEvent const& event) {
  LGCP::Signal signal;
  signal.select_tonec(event);
  SendSignal(signal);
}

void Slot::OnNumber(std::string const& digits) {
  LGCP::Signal signal;
  signal.select_number(digits);
  SendSignal(signal);
}

void Slot::OnModem(TERM::ModemProceeding const& proceeding) {
  LGCP::Signal signal;
  signal.select_modemProceeding(proceeding);
  SendSignal(signal);
}

void Slot::OnModem(TERM::ModemInformation const& information) {
  LGCP::Signal signal;
  signal.select_modemInformation(information);
  SendSignal(signal);
}

void Slot::OnActivated() {
  LGCP::Signal signal;
  signal.select_activated();
  SendSignal(signal);
}

void Slot::OnDeactivated() {
  LGCP::Signal signal;
  signal.select_deactivated(LGCP::DeactivateCause::networkError);
  SendSignal(signal);
}

void Slot::OnAbort(int cause) {
  LGCP::Signal signal;
  signal.select_abort(cause);
  SendSignal(signal);
}

void Slot::OnUserData(std::vector<char> const& octets) {
  LGCP::Signal signal;
  signal.select_userData(octets);
  SendSignal(signal);
}

void Slot::OnChangeInputStream(bool active) {
  if (active == m_input_active) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_receiver().select_active(IGetReceiveChannel());
  } else {
    signal.select_receiver().select_inactive();
    Disconnect(*this);
  }
  m_input_active = active;
  SendSignal(signal);
}

void Slot::OnChangeOutputStream(bool active) {
  if (active == m_output_active) return;
  LGCP::Signal signal;
  if (active) {
    signal.select_transmitter().select_active(IGetTransmitChannel());
  } else {
    signal.select_transmitter().select_inactive();
    for (std::size_t n = m_receivers.size(); n > 0; --n) {
      if (m_receivers.empty()) {
        std::cerr << "mux: internal error: expected slots not exists." << std::endl;
        break;
      }
      Disconnect(*m_receivers.front());
    }
  }
  m_output_active = active;
  SendSignal(signal);
}

void Slot::OnIoctlResponse(LGCP::IoctlResponse const& response) {
  LGCP::Signal signal;
  signal.select_ioctl(response);
  SendSignal(signal);
}

void Slot::OnRtpRadioEvent(TERM::RtpRadioRequest const& request) {
  LGCP::Signal signal;
  signal.select_rtpExt(request);
  SendSignal(signal);
}

void Slot::OnVADEvent(LGCP::VADEvent const& event) {
  LGCP::Signal signal;
  signal.select_vad(event);
  SendSignal(signal);
}

void Slot::OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets) {
  LGCP::Signal signal;
  signal.select_protoLemz(packets);
  SendSignal(signal);
}

void Slot::OnSDEvent(LGCP::SDEvent const& event) {
  LGCP::Signal signal;
  signal.select_sd(event);
  SendSignal(signal);
}

void Slot::OnRtpEvent(LGCP::RtpEvent const& event) {
  LGCP::Signal signal;
  signal.select_rtp(event);
  SendSignal(signal);
}

void Slot::LogicalConnect(Slot& source) {
  m_source = &source;
  if (std::find(source.m_receivers.begin(), source.m_receivers.end(), this) == source.m_receivers.end())
    source.m_receivers.push_back(this);
}

void Slot::LogicalDisconnect() {
  if (!m_source) return;
  auto& receivers = m_source->m_receivers;
  receivers.erase(std::remove(receivers.begin(), receivers.end(), this), receivers.end());
  m_source = nullptr;
}

bool Slot::BeforeDestroy() {
  if (!IBeforeDestroy()) return false;
  if (m_factory)
    m_factory->Remove(this);
  else
    std::cerr << "slot: internal error!!! BeforeDestroy() not connected to factory" << std::endl;
  return true;
}

void Slot::on_release() {
  if (!m_releasing) return;
  if (m_factory) m_factory->Remove(this);
  Slots::instance().on_release(this);
}
