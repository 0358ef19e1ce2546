#include "boardsim/tonec.h"

#include "boardsim/request_log.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

bool by_value(unsigned long request) {
  switch (request) {
    case Board::DTMF_DISABLE_DETECTOR:
    case Board::CHANNEL_LMS_ON:
    case Board::CHANNEL_LMS_OFF:
    case Board::DTMF_REJECTION_ENABLE:
    case Board::DTMF_REJECTION_DISABLE:
    case Board::IVA_DETECTOR_ENABLE:
    case Board::IVA_DETECTOR_DISABLE: return true;
    default: return false;
  }
}

char const* on_off(bool on) { return on ? "on" : "off"; }

std::string field(char const* name, long long value) { return std::string(name) + '=' + std::to_string(value); }

}  // namespace

Tonec::Tonec() : EventDevice(Board::kDtmf) {}

char const* Tonec::request_name(unsigned long request) const {
  switch (request) {
    case Board::DTMF_CONFIGURE_DETECTOR: return "DTMF_CONFIGURE_DETECTOR";
    case Board::DTMF_ENABLE_DETECTOR: return "DTMF_ENABLE_DETECTOR";
    case Board::DTMF_DISABLE_DETECTOR: return "DTMF_DISABLE_DETECTOR";
    case Board::DTMF_DIAL: return "DTMF_DIAL";
    case Board::CHANNEL_LMS_ON: return "CHANNEL_LMS_ON";
    case Board::CHANNEL_LMS_OFF: return "CHANNEL_LMS_OFF";
    case Board::DTMF_REJECTION_ENABLE: return "DTMF_REJECTION_ENABLE";
    case Board::DTMF_REJECTION_DISABLE: return "DTMF_REJECTION_DISABLE";
    case Board::IVA_DETECTOR_ENABLE: return "IVA_DETECTOR_ENABLE";
    case Board::IVA_DETECTOR_DISABLE: return "IVA_DETECTOR_DISABLE";
    case Board::IVA_CONFIGURE_DETECTOR: return "IVA_CONFIGURE_DETECTOR";
    case Board::SELCAL_DIAL: return "SELCAL_DIAL";
    default: return nullptr;
  }
}

std::string Tonec::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::DTMF_CONFIGURE_DETECTOR: {
      auto const r = record_at<Board::DtmfDetector>(arg);
      return field("ts", r.ts) + ' ' + field("twist", r.twist) + ' ' + field("ratio", r.ratio) + ' ' +
             field("silence", r.silence) + ' ' + field("noise", r.noise);
    }
    case Board::DTMF_ENABLE_DETECTOR: {
      auto const r = record_at<Board::DtmfEnable>(arg);
      return field("ts", r.ts) + ' ' + field("id", r.id);
    }
    case Board::DTMF_DIAL: {
      auto const r = record_at<Board::DtmfTone>(arg);
      return field("ts", r.ts) + ' ' + field("f1", r.freq1) + ' ' + field("f2", r.freq2) + ' ' + field("a1", r.amp1) +
             ' ' + field("a2", r.amp2);
    }
    case Board::IVA_CONFIGURE_DETECTOR: {
      auto const r = record_at<Board::IvaDetector>(arg);
      return field("ts", r.ts) + ' ' + field("level", r.det_lvl_dB);
    }
    case Board::SELCAL_DIAL: {
      auto const r = record_at<Board::SelcalDial>(arg);
      return field("ts", r.ts) + ' ' + field("amp", r.amp) + " signs=" + c_literal({r.signs, sizeof r.signs});
    }
    default: return {};
  }
}

int Tonec::ioctl(Open&, unsigned long request, void* arg) {
  if (by_value(request)) return EINVAL;
  switch (request) {
    case Board::DTMF_ENABLE_DETECTOR: {
      auto const r = record_at<Board::DtmfEnable>(arg);
      if (r.id == 0) return EINVAL;
      Timeslot& slot = m_timeslots[r.ts];
      slot.detector = true;
      slot.id = r.id;
      return 0;
    }
    case Board::DTMF_DIAL: {
      auto const r = record_at<Board::DtmfTone>(arg);
      Timeslot& slot = m_timeslots[r.ts];
      slot.tone[0] = r.freq1;
      slot.tone[1] = r.freq2;
      slot.tone[2] = r.amp1;
      slot.tone[3] = r.amp2;
      return 0;
    }
    case Board::SELCAL_DIAL: {
      auto const r = record_at<Board::SelcalDial>(arg);
      return r.reserved[0] || r.reserved[1] ? EINVAL : 0;
    }
    case Board::DTMF_CONFIGURE_DETECTOR:
    case Board::IVA_CONFIGURE_DETECTOR: return 0;
    default: return ENOTTY;
  }
}

int Tonec::ioctl_value(Open&, unsigned long request, unsigned long value) {
  // A value is no address of a record.
  if (!by_value(request)) return EFAULT;
  Timeslot& slot = m_timeslots[static_cast<std::uint32_t>(value)];
  switch (request) {
    case Board::DTMF_DISABLE_DETECTOR: slot.detector = false; break;
    case Board::CHANNEL_LMS_ON: slot.lms = true; break;
    case Board::CHANNEL_LMS_OFF: slot.lms = false; break;
    case Board::DTMF_REJECTION_ENABLE: slot.reject = true; break;
    case Board::DTMF_REJECTION_DISABLE: slot.reject = false; break;
    case Board::IVA_DETECTOR_ENABLE: slot.iva = true; break;
    case Board::IVA_DETECTOR_DISABLE: slot.iva = false; break;
  }
  return 0;
}

std::string Tonec::state_text(std::uint32_t ts) const {
  auto const found = m_timeslots.find(ts);
  Timeslot const slot = found == m_timeslots.end() ? Timeslot{} : found->second;
  return field("ts", ts) + " detector=" + on_off(slot.detector) + ' ' + field("id", slot.id) + " lms=" +
         on_off(slot.lms) + " reject=" + on_off(slot.reject) + " iva=" + on_off(slot.iva) + " tone=" +
         std::to_string(slot.tone[0]) + '/' + std::to_string(slot.tone[1]) + '/' + std::to_string(slot.tone[2]) +
         '/' + std::to_string(slot.tone[3]);
}

Model::Answer Tonec::queue_event(std::vector<std::string> const& args) {
  std::optional<std::uint32_t> words[4];
  for (std::size_t i = 1; i < args.size() && i <= 4; ++i) words[i - 1] = word(args[i]);
  bool const given_id = args.size() == 5;
  if ((args.size() != 4 && !given_id) || !words[0] || !words[1] || !words[2] || (given_id && !words[3]))
    return {{}, "usage: set dtmf event <ts> <code> <timestamp> [<id>]"};
  Board::DtmfEvent event{*words[1], *words[0], *words[2], 0};
  if (given_id) {
    event.id = *words[3];
  } else if (auto const found = m_timeslots.find(event.ts); found != m_timeslots.end()) {
    event.id = found->second.id;
  }
  return {{}, deliver_event(&event, sizeof event)};
}

Model::Answer Tonec::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    auto const ts = args.size() == 1 ? number(args[0]) : std::nullopt;
    if (!ts) return {{}, "usage: state dtmf <ts>"};
    return {{state_text(*ts)}, {}};
  }
  if (verb == "set" && !args.empty() && args[0] == "event") return queue_event(args);
  if (verb == "set") return {{}, "usage: set dtmf event <ts> <code> <timestamp> [<id>]"};
  return Model::command(verb, args);
}

}  // namespace BoardSim
