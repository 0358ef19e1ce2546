// What an RTP slot does between its create and its destroy: transmission with its input
// stream, the driver's events, packet detection, the controller's ioctls and the codec
// changes that begin its session again.

#include <fcntl.h>
#include <poll.h>

#include <iostream>

#include "foundation/board_io.h"
#include "foundation/ext.h"
#include "hardware/device_names.h"
#include "hardware/driver_service.h"
#include "hardware/request_error.h"
#include "slots/rtp/rtp_slot.h"

namespace {

// The prefix of a failed event read's line.
struct ReadFailure {
  RtpSlot const* slot;
};

std::ostream& operator<<(std::ostream& os, ReadFailure const& failure) {
  return os << ext::header(failure.slot) << "fail to read from rtp: ";
}

}  // namespace

bool RtpSlot::IOnInputStream() {
  if (transmissionDependOnSQU) return true;
  Board::io().ioctl_value(rtp.lowlevel_fd(), Board::RTP_TX_START, 0);
  transmitting = true;
  return true;
}

void RtpSlot::IOnInputRelease() {
  Board::io().ioctl_value(rtp.lowlevel_fd(), Board::RTP_TX_STOP, 0);
  transmitting = false;
}

void RtpSlot::OnRtpEvent(int, short revents) {
  bool const ended = Hardware::read_records<Board::rtp_event>(
      rtp.lowlevel_fd(), revents, ReadFailure{this}, [this](Board::rtp_event const& event) {
        std::clog << ext::header(this) << "rtp event:  type=" << std::dec << std::uint32_t{event.type} << std::endl;
        processRtpEvent(event);
      });
  // The session's requests go through `rtp`, not through the watch's duplicate.
  rtpEvent.StopOnHangUp(revents, ended, Event::Ending::close, ext::header(this), "rtp hung up: no more events");
}

int RtpSlot::setPD(std::uint32_t timeout) {
  Board::rtp_pd_params record = Board::pd_params(timeout);
  return Board::io().ioctl(rtp.lowlevel_fd(), Board::RTP_SET_EVENT_PD, &record);
}

int RtpSlot::enablePD(LGCP::PDParams const& pd) {
  int const timeout = pd.get_timeout().getValue();
  if (setPD(static_cast<std::uint32_t>(timeout)) == -1) {
    Hardware::ErrnoSuffix const error;
    std::cerr << ext::header(this) << "RTP SET EVENT PD fail:" << error << std::endl;
    return 0;
  }
  pdTimeout = static_cast<std::uint32_t>(timeout);
  std::clog << ext::header(this) << "RTP SET EVENT PD timeout=" << std::dec << timeout << std::endl;
  return 1;
}

int RtpSlot::disablePD() {
  std::int32_t one = 1;
  if (Board::io().ioctl(rtp.lowlevel_fd(), Board::RTP_RESET_EVENT_PD, &one) == -1) {
    Hardware::ErrnoSuffix const error;
    std::cerr << ext::header(this) << "RTP RESET EVENT PD fail:" << error << std::endl;
    return 0;
  }
  pdTimeout.reset();
  std::clog << ext::header(this) << "RTP RESET EVENT PD" << std::endl;
  return 1;
}

unsigned RtpSlot::translate_payload(LGCP::CodecMode::NamedNumber mode) const {
  switch (mode) {
    case LGCP::CodecMode::alaw: return 8;
    case LGCP::CodecMode::ulaw: return 0;
    default: return lbrcPayload;
  }
}

int RtpSlot::restart() {
  // The watch keeps a descriptor of its own: released first, the old session closes
  // with `rtp` and gives its channel back for the new one.
  rtpEvent.Release();
  rtp.close();
  holdsChannel = false;
  Fd session(Board::io().open(GetRtpDevName(), O_RDONLY));
  if (!session) return 0;
  if (Board::io().ioctl(session.lowlevel_fd(), Board::RTP_BEGIN_SESSION, &params) < 0) return 0;
  Board::rtp_channel_info info{channel, -1, -1, 0};
  if (Board::io().ioctl(session.lowlevel_fd(), Board::RTP_ADD_CHANNEL, &info) < 0) return 0;
  rtp = std::move(session);
  holdsChannel = true;
  rtpEvent.Schedule(rtp, POLLIN);
  // A new session sends and detects packets only once told to: the slot goes on as it was.
  if (transmitting) Board::io().ioctl_value(rtp.lowlevel_fd(), Board::RTP_TX_START, 0);
  if (pdTimeout) setPD(*pdTimeout);
  return 1;
}

bool RtpSlot::changeCodec(bool encoder, LGCP::IoctlParams const& request) {
  LGCP::CodecMode::NamedNumber const mode = encoder ? request.get_encoder_mode() : request.get_decoder_mode();
  unsigned const payload = translate_payload(mode);
  if (encoder) std::clog << ext::header(this) << "do restart RTP session (change tx payload):" << request;
  unsigned const previous = encoder ? params.tx_pt : params.rx_pt;
  if (payload == previous) {
    if (encoder) std::clog << " - Nothing to do" << std::endl;
    return true;
  }
  auto const use = [&](unsigned type) {
    if (encoder)
      params.tx_pt = static_cast<std::uint16_t>(type);
    else
      params.rx_pt = static_cast<std::uint16_t>(type);
  };
  use(payload);
  if (restart()) {
    if (encoder) std::clog << " - OK" << std::endl;
    return true;
  }
  // The failed session gave the channel back: the old one takes it again before another
  // create can.
  use(previous);
  restart();
  // The progress line ends before the failure line, which goes to another stream.
  if (encoder) std::clog << std::endl;
  std::cerr << ext::header(this) << "fail to restart RTP session!" << std::endl;
  return false;
}

bool RtpSlot::Ioctl(LGCP::IoctlParams const& p) {
  using P = LGCP::IoctlParams;
  switch (p.currentSelection()) {
    case P::echoSuppressor::id: return echoCancel(p.get_echoSuppressor());
    case P::dtmf_enable::id: return enableDTMF(p.get_dtmf_enable());
    case P::dtmf_reject_enable::id: return enableDTMFReject(p.get_dtmf_reject_enable());
    case P::activateWaitTone::id: activateAudibleCall(); return true;
    case P::deactivateWaitTone::id: cancelAudibleCall(); return true;
    case P::translateDTMF::id: translateDTMF(p.get_translateDTMF()); return true;
    case P::dtmf_params::id: return configureDTMF(p.get_dtmf_params());
    case P::vad_enable::id: return enableVAD(p.get_vad_enable());
    case P::vad_disable::id: return disableVAD();
    case P::vad_params::id: return configureVAD(p.get_vad_params());
    case P::sd_enable::id: return enableSD(p.get_sd_enable());
    case P::sd_disable::id: return disableSD();
    case P::sd_params::id: return configureSD();
    case P::pd_enable::id: return enablePD(p.get_pd_enable()) != 0;
    case P::pd_disable::id: return disablePD() != 0;
    case P::encoder_mode::id: return changeCodec(true, p);
    case P::decoder_mode::id: return changeCodec(false, p);
    case P::rx_gain::id: configureRxGain(p.get_rx_gain()); return true;
    case P::tone_filter::id: configureToneFilter(p.get_tone_filter()); return true;
    case P::selcal::id: translateSelcal(p.get_selcal()); return true;
    default: return false;
  }
}
