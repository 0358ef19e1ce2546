// A slot's driver events, turned into the controller's signals.

#include <cstdio>
#include <iostream>

#include "server/slot.h"

namespace {

constexpr std::uint32_t kCed = 17;
constexpr std::uint32_t kCng = 18;
constexpr std::uint32_t kLastDtmf = 127;
constexpr int kLastIvaCode = 20;
constexpr int kIvaRingoff = 21;
constexpr std::uint32_t kRtpPacketDetection = 1;

bool bit(std::uint32_t word, unsigned n) { return (word >> n) & 1u; }

}  // namespace

void Slot::processTonecEvent(Hardware::TonecReceiver::Params const& params) {
  LGCP::TonecEvent event;
  event.set_timestamp(static_cast<int>(params.timestamp));
  LGCP::TonecCode& code = event.set_event();
  if (params.code == kCed) {
    code.select_ced();
  } else if (params.code == kCng) {
    code.select_cng();
  } else if (params.code <= kLastDtmf) {
    code.select_dtmf(params.code);
  } else {
    int const c = static_cast<std::int32_t>(params.code) >> 8;
    if (c >= 1 && c <= kLastIvaCode) {
      code.select_iva().select_code(static_cast<unsigned>(c));
    } else if (c == kIvaRingoff) {
      code.select_iva().select_ringoff();
    } else {
      std::cerr << "bad DTMF code, ignored." << std::endl;
      return;
    }
  }
  OnTonecEvent(event);
}

void Slot::processToneGenEvent() {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  event.set_event().select_dtmfDone();
  OnTonecEvent(event);
}

void Slot::processToneFltEvent(Board::dsproc_tone_event const* tone) {
  LGCP::TonecEvent event;
  event.set_timestamp(0);
  LGCP::TonePresence& presence = event.set_event().select_tone_presence();
  presence.set_freq(tone->freq);
  presence.set_presence(tone->presence != 0);
  OnTonecEvent(event);
}

void Slot::processVADEvent(Hardware::DSProcVADEvent const& vad) {
  if (vad.rx < 0 && vad.tx < 0) {
    std::cerr << "bad VAD event, ignored." << std::endl;
    return;
  }
  LGCP::VADEvent event;
  if (vad.rx >= 0) event.set_vad_rx(vad.rx != 0);
  if (vad.tx >= 0) event.set_vad_tx(vad.tx != 0);
  OnVADEvent(event);
}

void Slot::processFlagsEvent(Board::dsproc_flags_event const* flags) {
  std::uint32_t const value = flags->flags, mask = flags->mask;
  if (bit(mask, 29) || bit(mask, 30)) {
    LGCP::VADEvent event;
    if (bit(mask, 29)) event.set_vad_rx(bit(value, 29));
    if (bit(mask, 30)) event.set_vad_tx(bit(value, 30));
    OnVADEvent(event);
  }
  if (bit(mask, 31)) {
    LGCP::Signal signal;
    signal.select_selcal().set_in_progress(bit(value, 31));
    SendSignal(signal);
  }
}

void Slot::processBSSEvent(Board::dsproc_bss_event const* bss) {
  // "%4.6f" of a large score is longer than the field: it is cut, not overrun.
  char score[31];
  std::snprintf(score, sizeof score, "%4.6f", static_cast<double>(bss->score));
  LGCP::Signal signal;
  signal.select_bss().set_score(score);
  SendSignal(signal);
}

void Slot::processSDEvent(Hardware::DSProcSDEvent const& sd) {
  if (sd.sd_rx < 0) {
    std::cerr << "bad SD event, ignored." << std::endl;
    return;
  }
  LGCP::SDEvent event;
  event.set_sd_rx(sd.sd_rx != 0);
  OnSDEvent(event);
}

void Slot::processRtpEvent(Board::rtp_event const& rtp) {
  if (rtp.type != kRtpPacketDetection) return;
  LGCP::RtpEvent event;
  LGCP::RtpPDEvent& pd = event.select_pd();
  pd.set_value(static_cast<int>(rtp.value));
  pd.set_timeout(static_cast<int>(rtp.timeout));
  OnRtpEvent(event);
}
