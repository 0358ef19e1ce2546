#include "hardware/dsproc_receiver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

#include "foundation/board_io.h"
#include "foundation/trace_ctl.h"
#include "hardware/device_names.h"
#include "hardware/request_error.h"
#include "schemas/term.h"

namespace Hardware {

Containers::CyclicList dsprocReceivers;
unsigned dsprocReceiverChanges = 0;

namespace {

constexpr int kVadVersion2 = 2;
// The VAD record of a driver before version 2.
constexpr std::uint32_t kVadWords[3] = {3, 127, 0};

// The fields the trace lines of an event name.
struct Fields {
  Board::DsprocEvent const& event;
};

std::ostream& operator<<(std::ostream& os, Fields const& f) {
  return os << " timeslot=" << std::uint32_t{f.event.ts} << " id=" << std::uint32_t{f.event.id}
            << " type=" << std::uint32_t{f.event.type};
}

template <class Payload>
Payload payload_of(Board::DsprocEvent const& event) {
  Payload payload;
  std::memcpy(&payload, event.payload, sizeof payload);
  return payload;
}

// The trace lines of an event: its fields, then its payload by type.
void trace(Board::DsprocEvent const& event) {
  std::clog << "dsproc event: " << Fields{event} << std::endl;
  switch (event.type) {
    case Board::kDsprocEventVad: {
      auto const vad = payload_of<Board::dsproc_vad_event>(event);
      std::clog << "dsproc vad event: " << " dir_mask=" << std::uint32_t{vad.dir_mask}
                << " vad_rx=" << std::int32_t{vad.vad_rx} << " vad_tx=" << std::int32_t{vad.vad_tx} << std::endl;
      break;
    }
    case Board::kDsprocEventSd:
      std::clog << "dsproc sd event: " << " sd_rx=" << std::int32_t{payload_of<Board::dsproc_sd_event>(event).sd_rx}
                << std::endl;
      break;
    case Board::kDsprocEventBss:
      std::clog << "dsproc bss event: " << " score=" << float{payload_of<Board::dsproc_bss_event>(event).score}
                << std::endl;
      break;
    case Board::kDsprocEventFlags: {
      auto const flags = payload_of<Board::dsproc_flags_event>(event);
      std::clog << "dsproc flags event: " << std::hex << " flags=" << std::uint32_t{flags.flags}
                << ", mask=" << std::uint32_t{flags.mask} << std::dec << std::endl;
      break;
    }
  }
}

}  // namespace

// --- the receiver ----------------------------------------------------------------------

DSProcReceiver::DSProcReceiver() {
  dsprocReceivers.AddToTail(&link);
  ++dsprocReceiverChanges;
}

// The link leaves the list as it goes.
DSProcReceiver::~DSProcReceiver() { ++dsprocReceiverChanges; }

bool DSProcReceiver::configureVAD(LGCP::VADParams const& params) {
  return DSProcReceiverService::instance().configureVAD(dsproc_timeslot(), params);
}

bool DSProcReceiver::enableVAD(bool on) { return DSProcReceiverService::instance().enableVAD(*this, on); }
bool DSProcReceiver::disableVAD() { return enableVAD(false); }
bool DSProcReceiver::enableBSS(bool on) { return DSProcReceiverService::instance().enableBSS(*this, on); }
bool DSProcReceiver::disableBSS() { return enableBSS(false); }
bool DSProcReceiver::enableNG(bool on) { return DSProcReceiverService::instance().enableNG(*this, on); }
bool DSProcReceiver::disableNG() { return enableNG(false); }
bool DSProcReceiver::configureSD() { return DSProcReceiverService::instance().configureSD(dsproc_timeslot()); }
bool DSProcReceiver::enableSD(bool on) { return DSProcReceiverService::instance().enableSD(*this, on); }
bool DSProcReceiver::disableSD() { return enableSD(false); }

bool DSProcReceiver::enableMute(bool first, bool second) {
  return DSProcReceiverService::instance().enableMute(*this, first, second);
}

bool DSProcReceiver::disableMute() { return enableMute(false, false); }

void DSProcReceiver::configureDelays(unsigned rx, unsigned tx) {
  DSProcReceiverService::instance().configureDelays(dsproc_timeslot(), rx, tx);
  delaysSet = rx != 0 || tx != 0;
}

void DSProcReceiver::configureRxGain(char gain) {
  DSProcReceiverService::instance().configureRxGain(dsproc_timeslot(), gain);
  rxGainSet = gain != 0;
}

void DSProcReceiver::configureRxGain(LGCP::Gain const& gain) {
  configureRxGain(static_cast<char>(static_cast<signed char>(gain.get_gainDB().getValue() & 0xFF)));
}

void DSProcReceiver::configureToneFilter(unsigned freq, unsigned en, int dur_th_msec, int det_lvl_dB) {
  DSProcReceiverService::instance().configureToneFilter(dsproc_timeslot(), freq, en, dur_th_msec, det_lvl_dB);
}

void DSProcReceiver::configureToneFilter(LGCP::ToneFilter const& filter) {
  configureToneFilter(static_cast<unsigned>(filter.get_freq().getValue()), filter.get_enable() ? 1u : 0u,
                      filter.get_duration_th_msec().getValue(), filter.get_det_level_dB().getValue());
}

void DSProcReceiver::disableToneAll() { DSProcReceiverService::instance().disableToneAll(*this); }

void DSProcReceiver::CleanBeforeDestroy() {
  if (vadState > 0) enableVAD(false);
  if (bssState > 0) disableBSS();
  if (ngState > 0) disableNG();
  if (delaysSet) configureDelays(0, 0);
  if (rxGainSet) configureRxGain(0);
  disableToneAll();
}

// --- the service -----------------------------------------------------------------------

DSProcReceiverService& DSProcReceiverService::instance() {
  static DSProcReceiverService service;
  return service;
}

DSProcReceiverService::DSProcReceiverService()
    : m_receivers(dsprocReceivers, &DSProcReceiver::link, &DSProcReceiver::dsproc_timeslot, dsprocReceiverChanges) {
  init();
}

void DSProcReceiverService::init() {
  open_device(GetDSPDevName(), O_RDWR, "open dsproc fail, VAD proceeding disabled: ",
              "DSProcReceiverService::OnEvent", &DSProcReceiverService::OnEvent, this);
}

bool DSProcReceiverService::disable(unsigned ts, std::uint32_t mask) {
  Board::DsprocFunctions record{ts, 0, mask};
  return Board::io().ioctl(lowlevel_fd(), Board::DSPROC_DISABLE, &record) >= 0;
}

bool DSProcReceiverService::enableFunction(DSProcReceiver& receiver, bool on, std::int32_t& state,
                                           std::uint32_t& id, std::uint32_t mask, char const* word) {
  if (state >= 0 && (state != 0) == on) return true;
  unsigned const ts = receiver.dsproc_timeslot();
  if (on) {
    std::uint32_t const next = next_id();
    Board::DsprocFunctions record{ts, next, mask};
    if (Board::io().ioctl(lowlevel_fd(), Board::DSPROC_ENABLE, &record) < 0) {
      ErrnoSuffix const error;
      std::cerr << "DSPROC_ENABLE " << word << " fail:" << " timeslot=" << ts << " id=" << next << error << std::endl;
      return false;
    }
    id = next;
    state = 1;
    std::cerr << "DSPROC_ENABLE " << word << " done:" << " timeslot=" << ts << " id=" << next << std::endl;
    return true;
  }
  if (!disable(ts, mask)) {
    ErrnoSuffix const error;
    std::cerr << "DSPROC_DISABLE " << word << " fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  state = 0;
  std::cerr << "DSPROC_DISABLE " << word << " done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::enableVAD(DSProcReceiver& r, bool on) {
  return enableFunction(r, on, r.vadState, r.vadId, Board::kDsprocMaskVad, "VAD");
}

bool DSProcReceiverService::enableBSS(DSProcReceiver& r, bool on) {
  return enableFunction(r, on, r.bssState, r.bssId, Board::kDsprocMaskBss, "BSS");
}

bool DSProcReceiverService::enableNG(DSProcReceiver& r, bool on) {
  return enableFunction(r, on, r.ngState, r.ngId, Board::kDsprocMaskNg, "NG");
}

bool DSProcReceiverService::enableSD(DSProcReceiver& r, bool on) {
  return enableFunction(r, on, r.sdState, r.sdId, Board::kDsprocMaskSd, "SD");
}

bool DSProcReceiverService::enableMute(DSProcReceiver& r, bool first, bool second) {
  if (r.muteState4 >= 0 && r.muteState8 >= 0 && (r.muteState4 != 0) == first && (r.muteState8 != 0) == second)
    return true;
  unsigned const ts = r.dsproc_timeslot();
  if (first || second) {
    std::uint32_t const next = next_id();
    std::uint32_t const mask = (first ? Board::kDsprocMaskMute1 : 0) | (second ? Board::kDsprocMaskMute2 : 0);
    Board::DsprocFunctions record{ts, next, mask};
    if (Board::io().ioctl(lowlevel_fd(), Board::DSPROC_ENABLE, &record) < 0) {
      ErrnoSuffix const error;
      std::cerr << "DSPROC_ENABLE MUTE fail:" << " timeslot=" << ts << " id=" << next << error << std::endl;
      return false;
    }
    r.muteId = next;
    r.muteState4 = first;
    r.muteState8 = second;
    std::cerr << "DSPROC_ENABLE MUTE done:" << " timeslot=" << ts << " id=" << next << std::endl;
    return true;
  }
  if (!disable(ts, Board::kDsprocMaskMute1 | Board::kDsprocMaskMute2)) {
    ErrnoSuffix const error;
    std::cerr << "DSPROC_DISABLE MUTE fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  r.muteState4 = r.muteState8 = 0;
  std::cerr << "DSPROC_DISABLE MUTE done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::opened(unsigned ts, char const* not_opened) {
  if (!IsActive()) init();
  if (IsActive()) return true;
  std::cerr << not_opened << " timeslot=" << ts << std::endl;
  return false;
}

bool DSProcReceiverService::configure(Board::DsprocConfigure const& record, char const* failure) {
  Board::DsprocConfigure copy = record;
  if (Board::io().ioctl(lowlevel_fd(), Board::DSPROC_CONFIGURE, &copy) >= 0) return true;
  ErrnoSuffix const error;
  std::cerr << failure << " timeslot=" << std::uint32_t{record.ts} << error << std::endl;
  return false;
}

bool DSProcReceiverService::configureVAD(unsigned ts, LGCP::VADParams const& params) {
  if (!opened(ts, "configure VAD fail: (interface not opened)")) return false;
  Board::DsprocConfigure record{};
  record.ts = ts;
  record.kind = Board::kDsprocVad;
  if (Board::io().ioctl_value(lowlevel_fd(), Board::VAD_VERSION, 0) == kVadVersion2) {
    if (!params.v2_isSelected()) {
      std::cerr << "DSPROC_CONFIGURE VAD: params not specified for v2: " << " timeslot=" << ts << std::endl;
      return false;
    }
    TERM::VADParamsV2 const& v2 = params.get_v2();
    record.params.vad_v2.voice_ms = static_cast<std::uint16_t>(v2.get_voice_th_msec().getValue());
    record.params.vad_v2.silence_ms = static_cast<std::uint16_t>(v2.get_silence_th_msec().getValue());
    record.params.vad_v2.energy_dB = static_cast<std::uint8_t>(v2.get_e_th_dB().getValue());
  } else {
    for (unsigned i = 0; i < 3; ++i) record.params.words[i] = kVadWords[i];
  }
  if (!configure(record, "DSPROC_CONFIGURE VAD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE VAD" << " ts=" << ts << std::endl;
  return true;
}

bool DSProcReceiverService::configureSD(unsigned ts) {
  if (!opened(ts, "configure SD fail: (interface not opened)")) return false;
  Board::DsprocConfigure record{};
  record.ts = ts;
  record.kind = Board::kDsprocSd;
  if (!configure(record, "DSPROC_CONFIGURE SD fail:")) return false;
  std::clog << "DSPROC_CONFIGURE SD" << " ts=" << ts << std::endl;
  return true;
}

void DSProcReceiverService::configureDelays(unsigned ts, unsigned rx, unsigned tx) {
  if (!opened(ts, "configure Delays fail: (interface not opened)")) return;
  Board::DsprocConfigure record{};
  record.ts = ts;
  record.kind = Board::kDsprocDelays;
  record.params.delays.rx = rx;
  record.params.delays.tx = tx;
  if (configure(record, "DSPROC_CONFIGURE DELAYS fail:"))
    std::clog << "DSPROC_CONFIGURE DELAYS" << " ts=" << ts << " rx=" << rx << " tx=" << tx << std::endl;
}

void DSProcReceiverService::configureRxGain(unsigned ts, char gain) {
  if (!opened(ts, "Configure Rx gain fail: (interface not opened)")) return;
  Board::DsprocConfigure record{};
  record.ts = ts;
  record.kind = Board::kDsprocRxGain;
  record.params.rx_gain_dB = static_cast<std::uint8_t>(gain);
  if (configure(record, "DSPROC_CONFIGURE Rx Gain fail:"))
    std::clog << "DSPROC_CONFIGURE RX GAIN" << " ts=" << ts << " gain_dB=" << unsigned{record.params.rx_gain_dB}
              << std::endl;
}

void DSProcReceiverService::configureToneFilter(unsigned ts, unsigned freq, unsigned en, int dur_th_msec,
                                                int det_lvl_dB) {
  if (!opened(ts, "Configure Tone Filter fail: (interface not opened)")) return;
  Board::DsprocConfigure record{};
  record.ts = ts;
  record.kind = Board::kDsprocToneFilter;
  record.params.tone_filter.freq = static_cast<std::uint16_t>(freq);
  record.params.tone_filter.enable = static_cast<std::uint8_t>(en);
  record.params.tone_filter.duration_ms = static_cast<std::uint16_t>(dur_th_msec);
  record.params.tone_filter.level_dB = static_cast<std::uint8_t>(det_lvl_dB);
  if (configure(record, "DSPROC_CONFIGURE Tone Filter fail:"))
    std::clog << "DSPROC_CONFIGURE TONE FILTER" << " ts=" << ts << " freq=" << freq << ", en=" << en
              << ", dur_th_msec=" << dur_th_msec << ", det_lvl_dB=" << det_lvl_dB << std::endl;
}

void DSProcReceiverService::disableToneAll(DSProcReceiver& receiver) {
  unsigned const ts = receiver.dsproc_timeslot();
  if (!opened(ts, "Disable All Tone fail: (interface not opened)")) return;
  if (!disable(ts, Board::kDsprocMaskTones)) {
    ErrnoSuffix const error;
    std::cerr << "Disable All Tone fail:" << " timeslot=" << ts << error << std::endl;
    return;
  }
  std::clog << "DISABLE ALL TONE done: " << " ts=" << ts << std::endl;
}

void DSProcReceiverService::OnEvent(int fd, short revents) {
  bool const ended = read_records<Board::DsprocEvent>(fd, revents, "fail to read from dsproc: ",
                                                      [this](Board::DsprocEvent const& record) { dispatch(record); });
  // Every request goes through this descriptor: it stays open.
  StopOnHangUp(revents, ended, Ending::keep, "dsproc hung up: no more events");
}

void DSProcReceiverService::dispatch(Board::DsprocEvent const& event) {
  bool const tracing = traces.signalling.events;
  std::uint32_t const ts = event.ts, id = event.id, type = event.type;
  if (tracing) trace(event);
  auto const candidates = m_receivers.on(ts);
  if (candidates.empty()) {
    if (tracing) std::cerr << "receive dsproc event from unknown timeslot " << ts << std::endl;
    return;
  }
  // Receivers may share a timeslot (a mixer's input and output): the event goes to the
  // first one it is meant for, and only when none is does the first one drop it.
  auto const takes = [&](DSProcReceiver const& r) {
    switch (type) {
      case Board::kDsprocEventVad: return r.vadState != 0 && r.vadId == id;
      case Board::kDsprocEventSd: return r.sdState != 0 && r.sdId == id;
      case Board::kDsprocEventBss: return r.bssState != 0;
      default: return true;
    }
  };
  DSProcReceiver* taker = nullptr;
  for (auto const& candidate : candidates) {
    if (takes(*candidate.receiver)) {
      taker = candidate.receiver;
      break;
    }
  }
  DSProcReceiver const* first = candidates.begin()->receiver;

  switch (type) {
    case Board::kDsprocEventVad:
    case Board::kDsprocEventSd: {
      if (!taker) {
        bool const off = (type == Board::kDsprocEventVad ? first->vadState : first->sdState) == 0;
        if (tracing && off)
          std::clog << "ignore spurious dsproc vad event (dsproc disabled): " << Fields{event} << std::endl;
        else if (tracing)
          std::clog << "ignore spurious dsproc vad event: " << Fields{event}
                    << " rid=" << (type == Board::kDsprocEventVad ? first->vadId : first->sdId) << std::endl;
        return;
      }
      if (type == Board::kDsprocEventSd) {
        taker->dsproc_sd_event(DSProcSDEvent{payload_of<Board::dsproc_sd_event>(event).sd_rx});
        return;
      }
      auto const vad = payload_of<Board::dsproc_vad_event>(event);
      DSProcVADEvent report{-1, -1};
      if (vad.dir_mask & 1) report.rx = vad.vad_rx;
      if (vad.dir_mask & 2) report.tx = vad.vad_tx;
      taker->dsproc_vad_event(report);
      return;
    }
    case Board::kDsprocEventBss: {
      if (!taker) {
        if (tracing) std::clog << "ignore spurious dsproc bss event (dsproc disabled): " << Fields{event} << std::endl;
        return;
      }
      auto const bss = payload_of<Board::dsproc_bss_event>(event);
      taker->dsproc_bss_event(&bss);
      return;
    }
    case Board::kDsprocEventFlags: {
      auto const flags = payload_of<Board::dsproc_flags_event>(event);
      taker->dsproc_flags_event(&flags);
      return;
    }
    case Board::kDsprocEventTone: {
      auto const tone = payload_of<Board::dsproc_tone_event>(event);
      taker->dsproc_tone_flt_event(&tone);
      return;
    }
    default: return;
  }
}

}  // namespace Hardware
