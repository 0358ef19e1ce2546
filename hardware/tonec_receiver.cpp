#include "hardware/tonec_receiver.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "hardware/device_names.h"
#include "hardware/request_error.h"

namespace Hardware {

Containers::CyclicList tonecReceivers;
unsigned tonecReceiverChanges = 0;

namespace {

constexpr std::uint16_t kDefaultAmplitude = 16384;
constexpr unsigned kDefaultDurationMs = 70;
constexpr std::uint16_t kSelcalAmplitude = 12000;
constexpr std::uint16_t kWaitToneFreq = 425;
constexpr std::uint16_t kWaitToneAmplitude = 2048;
constexpr unsigned kWaitToneMs = 1000;
constexpr unsigned kWaitPauseMs = 3000;

std::uint16_t low16(ASN1::INTEGER const& value) { return static_cast<std::uint16_t>(value.getValue()); }

}  // namespace

// --- the receiver ----------------------------------------------------------------------

TonecReceiver::TonecReceiver() {
  tonecReceivers.AddToTail(&link);
  ++tonecReceiverChanges;
}

// The link leaves the list as it goes.
TonecReceiver::~TonecReceiver() { ++tonecReceiverChanges; }

bool TonecReceiver::configureDTMF(LGCP::DTMFParams const& params) {
  return TonecReceiverService::instance().configureDTMF(tonec_timeslot(), params);
}

bool TonecReceiver::enableDTMF(bool on) {
  if (!TonecReceiverService::instance().enableDTMF(*this, on)) return false;
  dtmfEnabled = on;
  return true;
}

bool TonecReceiver::disableDTMF() { return enableDTMF(false); }

bool TonecReceiver::echoCancel(bool on) { return TonecReceiverService::instance().echoCancel(tonec_timeslot(), on); }

bool TonecReceiver::enableDTMFReject(bool on) {
  if (!TonecReceiverService::instance().enableDTMFReject(tonec_timeslot(), on)) return false;
  dtmfRejectEnabled = on;
  return true;
}

bool TonecReceiver::configureIVA(LGCP::IVAParams const& params) {
  return TonecReceiverService::instance().configureIVA(*this, params);
}

bool TonecReceiver::enableIVA(bool on) {
  if (!TonecReceiverService::instance().enableIVA(*this, on)) return false;
  ivaEnabled = on;
  return true;
}

void TonecReceiver::translateSelcal(TERM::SelcalCommand const& command) {
  TonecReceiverService::instance().translateSelcal(*this, command);
}

bool TonecReceiver::enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                                        std::uint16_t amp2) {
  return TonecReceiverService::instance().enableToneGenerator(tonec_timeslot(), freq1, freq2, amp1, amp2);
}

bool TonecReceiver::enableSilence() { return enableToneGenerator(1000, 1000, 0, 0); }

bool TonecReceiver::disableToneGenerator(bool force) {
  if (!force && !inDTMFTransmit) return false;
  if (inDTMFTransmit) {
    timer.reset();
    inDTMFTransmit = false;
  }
  return enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::translateDTMF(LGCP::TranslateDtmfParams const& params) {
  dtmfParams = params;
  if (inDTMFTransmit) return;  // the running sequence takes the new digits at its next step
  inDTMFTransmit = true;
  on_DTMFPauseFinish(&timer);
}

void TonecReceiver::on_DTMFPauseFinish(Timer*) {
  auto& digits = dtmfParams.ref_digits();
  if (digits.empty()) {
    disableToneGenerator(true);
    tone_gen_complete();
    return;
  }
  LGCP::DualTone const& digit = *digits.begin();
  std::uint16_t const amp1 = dtmfParams.amp1_isPresent() ? low16(dtmfParams.get_amp1()) : kDefaultAmplitude;
  std::uint16_t const amp2 = dtmfParams.amp2_isPresent() ? low16(dtmfParams.get_amp2()) : kDefaultAmplitude;
  enableToneGenerator(low16(digit.get_freq1()), low16(digit.get_freq2()), amp1, amp2);
  digits.erase(digits.begin());
  unsigned const ms = dtmfParams.toneDuration_isPresent()
                          ? static_cast<unsigned>(dtmfParams.get_toneDuration().getValue())
                          : kDefaultDurationMs;
  timer.set(ms, &TonecReceiver::on_DTMFToneFinish, this);
}

void TonecReceiver::on_DTMFToneFinish(Timer*) {
  enableSilence();
  unsigned const ms = dtmfParams.pauseDuration_isPresent()
                          ? static_cast<unsigned>(dtmfParams.get_pauseDuration().getValue())
                          : kDefaultDurationMs;
  timer.set(ms, &TonecReceiver::on_DTMFPauseFinish, this);
}

void TonecReceiver::activateAudibleCall() {
  // A string being sent ends here, unfinished and unreported: otherwise its flag would
  // outlive it and leave the cadence beyond cancelAudibleCall's reach.
  if (inDTMFTransmit) {
    inDTMFTransmit = false;
    dtmfParams.ref_digits().clear();
  }
  on_waitPauseFinish(&timer);
}

void TonecReceiver::on_waitPauseFinish(Timer*) {
  enableToneGenerator(kWaitToneFreq, 0, kWaitToneAmplitude, kWaitToneAmplitude);
  timer.set(kWaitToneMs, &TonecReceiver::on_waitToneFinish, this);
}

void TonecReceiver::on_waitToneFinish(Timer*) {
  enableSilence();
  timer.set(kWaitPauseMs, &TonecReceiver::on_waitPauseFinish, this);
}

void TonecReceiver::cancelAudibleCall() {
  if (inDTMFTransmit) return;
  timer.reset();
  enableToneGenerator(0, 0, 0, 0);
}

void TonecReceiver::CleanBeforeDestroy() {
  if (dtmfEnabled) disableDTMF();
  if (ivaEnabled) enableIVA(false);
  if (dtmfRejectEnabled) enableDTMFReject(false);
  // A digit or a ring-back still sounding would go on after the slot is gone.
  if (timer.is_running()) {
    timer.reset();
    inDTMFTransmit = false;
    enableToneGenerator(0, 0, 0, 0);
  }
}

// --- the service -----------------------------------------------------------------------

TonecReceiverService& TonecReceiverService::instance() {
  static TonecReceiverService service;
  return service;
}

TonecReceiverService::TonecReceiverService()
    : m_receivers(tonecReceivers, &TonecReceiver::link, &TonecReceiver::tonec_timeslot, tonecReceiverChanges) {
  init();
}

void TonecReceiverService::init() {
  open_device(GetDTMFDevName(), O_RDONLY, "open tonec fail, DTMF proceeding disabled: ",
              "TonecReceiverService::OnEvent", &TonecReceiverService::OnEvent, this);
}

bool TonecReceiverService::enableDTMF(TonecReceiver& receiver, bool on) {
  if (receiver.enabled == on) return true;
  unsigned const ts = receiver.tonec_timeslot();
  if (on) {
    std::uint32_t const id = next_id();
    Board::DtmfEnable record{ts, id};
    if (Board::io().ioctl(lowlevel_fd(), Board::DTMF_ENABLE_DETECTOR, &record) < 0) {
      ErrnoSuffix const error;
      std::cerr << "DTMF_ENABLE_DETECTOR fail:" << " timeslot=" << ts << " id=" << id << error << std::endl;
      return false;
    }
    receiver.id = id;
    receiver.enabled = true;
    std::cerr << "DTMF_ENABLE_DETECTOR done:" << " timeslot=" << ts << " id=" << id << std::endl;
    return true;
  }
  if (Board::io().ioctl_value(lowlevel_fd(), Board::DTMF_DISABLE_DETECTOR, ts) < 0) {
    ErrnoSuffix const error;
    std::cerr << "DTMF_DISABLE_DETECTOR fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  receiver.enabled = false;
  std::cerr << "DTMF_DISABLE_DETECTOR done:" << " timeslot=" << ts << std::endl;
  return true;
}

bool TonecReceiverService::configureDTMF(unsigned ts, LGCP::DTMFParams const& params) {
  if (!IsActive()) init();
  if (!IsActive()) {
    std::cerr << "configure DTMF fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
  }
  LGCP::DTMFParams_threshold const& threshold = params.get_threshold();
  Board::DtmfDetector record{ts, threshold.get_twist().getValue(), threshold.get_ratio().getValue(),
                             params.get_level().get_silence().getValue(), threshold.get_noise().getValue()};
  if (Board::io().ioctl(lowlevel_fd(), Board::DTMF_CONFIGURE_DETECTOR, &record) < 0) {
    ErrnoSuffix const error;
    std::cerr << "DTMF_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  std::clog << "DTMF_CONFIGURE_DETECTOR" << " ts=" << ts << " twist=" << record.twist << " ratio=" << record.ratio
            << " noise=" << record.noise << " silence=" << record.silence << std::endl;
  return true;
}

bool TonecReceiverService::switch_request(unsigned ts, bool on, unsigned long on_code, unsigned long off_code,
                                          char const* stem, char const* on_suffix, char const* off_suffix) {
  char const* suffix = on ? on_suffix : off_suffix;
  if (Board::io().ioctl_value(lowlevel_fd(), on ? on_code : off_code, ts) == -1) {
    ErrnoSuffix const error;
    std::cerr << stem << suffix << " fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  std::clog << stem << suffix << "[" << ts << "] ok" << std::endl;
  return true;
}

bool TonecReceiverService::echoCancel(unsigned ts, bool on) {
  return switch_request(ts, on, Board::CHANNEL_LMS_ON, Board::CHANNEL_LMS_OFF, "CHANNEL_LMS", "_ON", "_OFF");
}

bool TonecReceiverService::enableDTMFReject(unsigned ts, bool on) {
  return switch_request(ts, on, Board::DTMF_REJECTION_ENABLE, Board::DTMF_REJECTION_DISABLE, "DTMF_REJECTION",
                        "_ENABLE", "_DISABLE");
}

bool TonecReceiverService::enableIVA(TonecReceiver& receiver, bool on) {
  if (!switch_request(receiver.tonec_timeslot(), on, Board::IVA_DETECTOR_ENABLE, Board::IVA_DETECTOR_DISABLE,
                      "IVA_DETECTOR", "_ENABLE", "_DISABLE"))
    return false;
  receiver.enabled = on;  // the IVA detector shares the detector-on flag
  return true;
}

bool TonecReceiverService::configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params) {
  unsigned const ts = receiver.tonec_timeslot();
  if (!IsActive()) init();
  if (!IsActive()) {
    std::cerr << "configure IVA fail: (interface not opened)" << " timeslot=" << ts << std::endl;
    return false;
  }
  Board::IvaDetector record{ts, params.get_det_lvl_dB().getValue()};
  if (Board::io().ioctl(lowlevel_fd(), Board::IVA_CONFIGURE_DETECTOR, &record) < 0) {
    ErrnoSuffix const error;
    std::cerr << "IVA_CONFIGURE_DETECTOR fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  std::clog << "IVA_CONFIGURE_DETECTOR" << " ts=" << ts << " det_lvl_dB=" << record.det_lvl_dB << std::endl;
  return true;
}

bool TonecReceiverService::enableToneGenerator(unsigned ts, std::uint16_t freq1, std::uint16_t freq2,
                                               std::uint16_t amp1, std::uint16_t amp2) {
  Board::DtmfTone record{ts, freq1, freq2, amp1, amp2};
  if (Board::io().ioctl(lowlevel_fd(), Board::DTMF_DIAL, &record) < 0) {
    ErrnoSuffix const error;
    std::cerr << "DTMF_DIAL fail:" << " timeslot=" << ts << error << std::endl;
    return false;
  }
  return true;
}

void TonecReceiverService::translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command) {
  unsigned const ts = receiver.tonec_timeslot();
  std::string const& signs = command.get_signs();
  if (signs.size() < 4) {
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << " incorect signs:" << signs << std::endl;
    return;
  }
  Board::SelcalDial record{};
  record.ts = ts;
  record.amp = command.amp_isPresent() ? low16(command.get_amp()) : kSelcalAmplitude;
  std::memcpy(record.signs, signs.data(), sizeof record.signs);
  if (Board::io().ioctl(lowlevel_fd(), Board::SELCAL_DIAL, &record) < 0) {
    ErrnoSuffix const error;
    std::cerr << "SELCAL_DIAL fail:" << " timeslot=" << ts << error << std::endl;
  }
}

void TonecReceiverService::OnEvent(int fd, short revents) {
  bool const ended = read_records<Board::DtmfEvent>(fd, revents, "fail to read from tonec: ",
                                                    [this](Board::DtmfEvent const& record) { dispatch(record); });
  // Every request goes through this descriptor: it stays open.
  StopOnHangUp(revents, ended, Ending::keep, "tonec hung up: no more events");
}

void TonecReceiverService::dispatch(Board::DtmfEvent const& event) {
  std::uint32_t const code = event.code, ts = event.ts, timestamp = event.timestamp, id = event.id;
  std::clog << "dtmf event: " << " timestamp=" << timestamp << " timeslot=" << ts << " code=" << code << " id=" << id
            << std::endl;
  auto const candidates = m_receivers.on(ts);
  if (candidates.empty()) {
    std::cerr << "receive tonec event from unknown timeslot " << ts << std::endl;
    return;
  }
  // Receivers may share a timeslot (a mixer's input and output): the event goes to the
  // first one it is meant for, and only when none is does the first one drop it.
  for (auto const& candidate : candidates) {
    if (candidate.receiver->enabled && candidate.receiver->id == id) {
      candidate.receiver->tonec_event({code, timestamp});
      return;
    }
  }
  TonecReceiver const* first = candidates.begin()->receiver;
  if (!first->enabled) {
    std::clog << "ignore spurious dtmf event (DTMF disabled): " << " timestamp=" << timestamp << " timeslot=" << ts
              << " code=" << code << " id=" << id << std::endl;
  } else {
    std::clog << "ignore spurious dtmf event: " << " timestamp=" << timestamp << " timeslot=" << ts << " code=" << code
              << " id=" << id << " rid=" << first->id << std::endl;
  }
}

}  // namespace Hardware
