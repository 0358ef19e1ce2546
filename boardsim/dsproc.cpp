#include "boardsim/dsproc.h"

#include <cstdio>
#include <cstdlib>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

constexpr std::uint32_t kKnownFunctions = 0x19f;

std::string field(char const* name, long long value) { return std::string(name) + '=' + std::to_string(value); }

std::string hex_field(char const* name, std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return std::string(name) + '=' + text;
}

char const* kind_name(std::uint32_t kind) {
  switch (kind) {
    case Board::kDsprocVad: return "VAD";
    case Board::kDsprocSd: return "SD";
    case Board::kDsprocDelays: return "DELAYS";
    case Board::kDsprocRxGain: return "RX_GAIN";
    case Board::kDsprocToneFilter: return "TONE_FILTER";
    default: return nullptr;
  }
}

std::optional<float> score(std::string const& text) {
  char* end = nullptr;
  float const value = std::strtof(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) return std::nullopt;
  return value;
}

constexpr char kEventUsage[] =
    "usage: set dsp event <ts> vad <dir_mask> <rx> <tx> | sd <sd_rx> | bss <score> | tone <freq> <presence> | "
    "flags <flags> <mask>, then [<id>]";

}  // namespace

Dsproc::Dsproc() : EventDevice(Board::kDsp) {}

char const* Dsproc::request_name(unsigned long request) const {
  switch (request) {
    case Board::DSPROC_CONFIGURE: return "DSPROC_CONFIGURE";
    case Board::DSPROC_ENABLE: return "DSPROC_ENABLE";
    case Board::DSPROC_DISABLE: return "DSPROC_DISABLE";
    case Board::VAD_VERSION: return "VAD_VERSION";
    default: return nullptr;
  }
}

std::string Dsproc::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::DSPROC_CONFIGURE: {
      auto const r = record_at<Board::DsprocConfigure>(arg);
      char const* kind = kind_name(r.kind);
      std::string text = field("ts", r.ts) + ' ' + (kind ? std::string("kind=") + kind : field("kind", r.kind));
      auto const& p = r.params;
      switch (r.kind) {
        case Board::kDsprocVad:
          if (m_version == 2)
            return text + ' ' + field("voice", p.vad_v2.voice_ms) + ' ' + field("silence", p.vad_v2.silence_ms) + ' ' +
                   field("energy", p.vad_v2.energy_dB);
          return text + " words=" + std::to_string(p.words[0]) + ',' + std::to_string(p.words[1]) + ',' +
                 std::to_string(p.words[2]);
        case Board::kDsprocDelays: return text + ' ' + field("rx", p.delays.rx) + ' ' + field("tx", p.delays.tx);
        case Board::kDsprocRxGain: return text + ' ' + field("gain", p.rx_gain_dB);
        case Board::kDsprocToneFilter:
          return text + ' ' + field("freq", p.tone_filter.freq) + ' ' + field("en", p.tone_filter.enable) + ' ' +
                 field("dur", p.tone_filter.duration_ms) + ' ' + field("level", p.tone_filter.level_dB);
        default: return text;
      }
    }
    case Board::DSPROC_ENABLE: {
      auto const r = record_at<Board::DsprocFunctions>(arg);
      return field("ts", r.ts) + ' ' + field("id", r.id) + ' ' + hex_field("mask", r.mask);
    }
    case Board::DSPROC_DISABLE: {
      auto const r = record_at<Board::DsprocFunctions>(arg);
      return field("ts", r.ts) + ' ' + hex_field("mask", r.mask);
    }
    default: return {};
  }
}

std::size_t Dsproc::record_size(unsigned long request) const {
  return request == Board::DSPROC_CONFIGURE ? 0 : Model::record_size(request);
}

int Dsproc::ioctl(Open&, unsigned long request, void* arg) {
  switch (request) {
    case Board::DSPROC_CONFIGURE:
      return kind_name(record_at<Board::DsprocConfigure>(arg).kind) ? 0 : EINVAL;
    case Board::DSPROC_ENABLE: {
      auto const r = record_at<Board::DsprocFunctions>(arg);
      if (r.id == 0 || r.mask == 0 || (r.mask & ~kKnownFunctions)) return EINVAL;
      Timeslot& slot = m_timeslots[r.ts];
      slot.on |= r.mask;
      if (r.mask & Board::kDsprocMaskVad) slot.vad = r.id;
      if (r.mask & Board::kDsprocMaskSd) slot.sd = r.id;
      if (r.mask & (Board::kDsprocMaskMute1 | Board::kDsprocMaskMute2)) slot.mute = r.id;
      if (r.mask & Board::kDsprocMaskBss) slot.bss = r.id;
      if (r.mask & Board::kDsprocMaskNg) slot.ng = r.id;
      return 0;
    }
    case Board::DSPROC_DISABLE: {
      auto const r = record_at<Board::DsprocFunctions>(arg);
      if (r.id != 0) return EINVAL;
      m_timeslots[r.ts].on &= ~r.mask;
      return 0;
    }
    case Board::VAD_VERSION: return EINVAL;  // by value
    default: return ENOTTY;
  }
}

int Dsproc::ioctl_value(Open&, unsigned long request, unsigned long value) {
  if (request != Board::VAD_VERSION) return EFAULT;  // a value is no address of a record
  if (value != 0) return EINVAL;
  set_result(m_version);
  return 0;
}

Dsproc::Timeslot Dsproc::timeslot(std::uint32_t ts) const {
  auto const found = m_timeslots.find(ts);
  return found == m_timeslots.end() ? Timeslot{} : found->second;
}

std::string Dsproc::state_text(std::uint32_t ts) const {
  Timeslot const slot = timeslot(ts);
  return field("ts", ts) + ' ' + hex_field("on", slot.on) + ' ' + field("vad", slot.vad) + ' ' + field("sd", slot.sd) +
         ' ' + field("mute", slot.mute) + ' ' + field("bss", slot.bss) + ' ' + field("ng", slot.ng) + ' ' +
         field("version", m_version);
}

Model::Answer Dsproc::queue_event(std::vector<std::string> const& args) {
  // args: event <ts> <kind> <payload words...> [<id>]
  if (args.size() < 3) return {{}, kEventUsage};
  auto const ts = word(args[1]);
  std::string const& kind = args[2];
  std::size_t const count = kind == "vad"                     ? 3
                            : kind == "sd" || kind == "bss"     ? 1
                            : kind == "tone" || kind == "flags" ? 2
                                                                : 0;
  if (!ts || count == 0 || (args.size() != 3 + count && args.size() != 4 + count)) return {{}, kEventUsage};
  std::optional<std::uint32_t> words[3];
  for (std::size_t i = 0; i < count; ++i) words[i] = word(args[3 + i]);
  std::optional<std::uint32_t> const id = args.size() == 4 + count ? word(args.back()) : std::optional<std::uint32_t>(0);

  Timeslot const slot = timeslot(*ts);
  Board::DsprocEvent event{*ts, 0, 0, {}};
  std::uint32_t default_id = 0;
  bool ok = id.has_value();
  if (kind == "vad") {
    ok = ok && words[0] && words[1] && words[2];
    Board::dsproc_vad_event const payload{words[0].value_or(0), static_cast<std::int32_t>(words[1].value_or(0)),
                                          static_cast<std::int32_t>(words[2].value_or(0))};
    event.type = Board::kDsprocEventVad;
    std::memcpy(event.payload, &payload, sizeof payload);
    default_id = slot.vad;
  } else if (kind == "sd") {
    ok = ok && words[0];
    Board::dsproc_sd_event const payload{static_cast<std::int32_t>(words[0].value_or(0))};
    event.type = Board::kDsprocEventSd;
    std::memcpy(event.payload, &payload, sizeof payload);
    default_id = slot.sd;
  } else if (kind == "bss") {
    auto const value = score(args[3]);
    ok = ok && value;
    Board::dsproc_bss_event const payload{value.value_or(0)};
    event.type = Board::kDsprocEventBss;
    std::memcpy(event.payload, &payload, sizeof payload);
    default_id = slot.bss;
  } else if (kind == "tone") {
    auto const presence = number(args[4], 0xff);
    ok = ok && words[0] && presence;
    Board::dsproc_tone_event const payload{static_cast<std::int32_t>(words[0].value_or(0)),
                                           static_cast<std::uint8_t>(presence.value_or(0)), {}};
    event.type = Board::kDsprocEventTone;
    std::memcpy(event.payload, &payload, sizeof payload);
  } else {
    ok = ok && words[0] && words[1];
    Board::dsproc_flags_event const payload{words[0].value_or(0), words[1].value_or(0)};
    event.type = Board::kDsprocEventFlags;
    std::memcpy(event.payload, &payload, sizeof payload);
  }
  if (!ok) return {{}, kEventUsage};
  event.id = args.size() == 4 + count ? *id : default_id;
  return {{}, deliver_event(&event, sizeof event)};
}

Model::Answer Dsproc::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    auto const ts = args.size() == 1 ? number(args[0]) : std::nullopt;
    if (!ts) return {{}, "usage: state dsp <ts>"};
    return {{state_text(*ts)}, {}};
  }
  if (verb == "set" && args.size() == 2 && args[0] == "version") {
    auto const version = number(args[1]);
    if (!version) return {{}, "usage: set dsp version <n>"};
    m_version = *version;
    return {};
  }
  if (verb == "set" && !args.empty() && args[0] == "event") return queue_event(args);
  if (verb == "set") return {{}, "usage: set dsp version <n> | set dsp event <ts> <kind> ... [<id>]"};
  return Model::command(verb, args);
}

}  // namespace BoardSim
