#include "boardsim/mixer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "boardsim/record_text.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

std::string channel_text(Board::mix_slot const& slot) {
  return std::to_string(slot.dev_no) + '/' + std::to_string(slot.type) + '/' + std::to_string(slot.number);
}

std::string slot_text(Board::mix_slot const& slot) {
  return "dev_no=" + std::to_string(slot.dev_no) + " type=" + std::to_string(slot.type) +
         " number=" + std::to_string(slot.number);
}

constexpr char kUnitUsage[] = "usage: set mixer unit <dev_no> <tdm_channels> <mixer_inputs> <first timeslot>";
constexpr char kSetUsage[] = "usage: set mixer unit|remove|repeat ...";

}  // namespace

Mixer::Mixer() : Model(Board::kMixer) {}

char const* Mixer::request_name(unsigned long request) const {
  switch (request) {
    case Board::MIX_RX_CLEAR: return "MIX_RX_CLEAR";
    case Board::MIX_RX_ADD: return "MIX_RX_ADD";
    case Board::MIX_RX_REMOVE: return "MIX_RX_REMOVE";
    case Board::MIX_TDM: return "MIX_TDM";
    case Board::MIX_UNIT_INFO: return "MIX_UNIT_INFO";
    default: return nullptr;
  }
}

std::string Mixer::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::MIX_RX_CLEAR:
    case Board::MIX_TDM: return slot_text(record_at<Board::mix_slot>(arg));
    case Board::MIX_RX_ADD:
    case Board::MIX_RX_REMOVE: {
      auto const link = record_at<Board::mix_rx_param>(arg);
      return "rx=" + channel_text(link.rx) + " tx=" + channel_text(link.tx) + " gain=" + std::to_string(link.gain);
    }
    case Board::MIX_UNIT_INFO: return "dev_no=" + std::to_string(record_at<Board::mix_unit_info>(arg).dev_no);
    default: return {};
  }
}

std::string Mixer::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::MIX_UNIT_INFO) return {};
  auto const info = record_at<Board::mix_unit_info>(arg);
  return "got=" + std::to_string(info.dev_no) + " tdm_channels=" + std::to_string(info.tdm_channels) +
         " mixer_inputs=" + std::to_string(info.mixer_inputs);
}

Mixer::Unit* Mixer::unit_of(std::int32_t dev_no, std::int32_t type, std::int32_t number) {
  auto const found = m_units.find(dev_no);
  if (found == m_units.end() || type != 0 || number < 0 || number >= found->second.tdm_channels) return nullptr;
  return &found->second;
}

int Mixer::unit_info(void* arg) {
  auto info = record_at<Board::mix_unit_info>(arg);
  auto const next = m_repeat ? m_units.begin() : m_units.upper_bound(info.dev_no);
  if (next == m_units.end()) return ENODEV;
  info = {next->first, next->second.tdm_channels, 0, next->second.mixer_inputs};
  std::memcpy(arg, &info, sizeof info);
  return 0;
}

int Mixer::edit_sum(unsigned long request, void* arg) {
  auto const link = record_at<Board::mix_rx_param>(arg);
  Unit* const unit = unit_of(link.rx.dev_no, link.rx.type, link.rx.number);
  if (!unit || link.tx.dev_no != link.rx.dev_no || !unit_of(link.tx.dev_no, link.tx.type, link.tx.number))
    return EINVAL;
  std::vector<Link>& sum = unit->sums[link.rx.number];
  auto const there = std::find_if(sum.begin(), sum.end(), [&link](Link const& l) { return l.tx == link.tx.number; });
  int error = 0;
  if (request == Board::MIX_RX_REMOVE) {
    if (there == sum.end())
      error = ENOENT;
    else
      sum.erase(there);
  } else if (there != sum.end()) {
    there->gain = link.gain;
  } else if (sum.size() >= static_cast<std::size_t>(std::max(unit->mixer_inputs, 0))) {
    error = ENOSPC;
  } else {
    sum.push_back({link.tx.number, link.gain});
  }
  if (sum.empty()) unit->sums.erase(link.rx.number);
  return error;
}

int Mixer::ioctl(Open&, unsigned long request, void* arg) {
  switch (request) {
    case Board::MIX_UNIT_INFO: return unit_info(arg);
    case Board::MIX_RX_ADD:
    case Board::MIX_RX_REMOVE: return edit_sum(request, arg);
    case Board::MIX_RX_CLEAR:
    case Board::MIX_TDM: {
      auto const slot = record_at<Board::mix_slot>(arg);
      Unit* const unit = unit_of(slot.dev_no, slot.type, slot.number);
      if (!unit) return EINVAL;
      if (request == Board::MIX_RX_CLEAR)
        unit->sums.erase(slot.number);
      else
        set_result(static_cast<long>(unit->first_timeslot) + slot.number);
      return 0;
    }
    default: return ENOTTY;
  }
}

// Every request carries a record: a bare value is no address of one.
int Mixer::ioctl_value(Open&, unsigned long, unsigned long) { return EFAULT; }

Model::Answer Mixer::set(std::vector<std::string> const& args) {
  if (args.empty()) return {{}, kSetUsage};
  if (args[0] == "unit") {
    std::optional<std::uint32_t> words[4];
    for (std::size_t i = 0; i < 4 && i + 1 < args.size(); ++i) words[i] = number(args[i + 1], INT32_MAX);
    if (args.size() != 5 || !words[0] || !words[1] || !words[2] || !words[3]) return {{}, kUnitUsage};
    // Every channel's timeslot must be a result the daemon can tell from a failure.
    if (*words[1] > 0 && *words[3] > static_cast<std::uint32_t>(INT32_MAX) - (*words[1] - 1))
      return {{}, "the unit's last timeslot is past " + std::to_string(INT32_MAX)};
    Unit unit;
    unit.tdm_channels = static_cast<std::int32_t>(*words[1]);
    unit.mixer_inputs = static_cast<std::int32_t>(*words[2]);
    unit.first_timeslot = static_cast<std::int32_t>(*words[3]);
    m_units[static_cast<std::int32_t>(*words[0])] = std::move(unit);
    return {};
  }
  if (args[0] == "remove") {
    auto const dev_no = args.size() == 2 ? number(args[1], INT32_MAX) : std::nullopt;
    if (!dev_no) return {{}, "usage: set mixer remove <dev_no>"};
    if (!m_units.erase(static_cast<std::int32_t>(*dev_no))) return {{}, "no mixer unit " + args[1]};
    return {};
  }
  if (args[0] == "repeat") {
    if (args.size() != 2 || (args[1] != "on" && args[1] != "off")) return {{}, "usage: set mixer repeat on|off"};
    m_repeat = args[1] == "on";
    return {};
  }
  return {{}, kSetUsage};
}

Model::Answer Mixer::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "set") return set(args);
  if (verb == "state") {
    auto const dev_no = args.size() == 2 ? number(args[0], INT32_MAX) : std::nullopt;
    auto const channel = args.size() == 2 ? number(args[1], INT32_MAX) : std::nullopt;
    if (!dev_no || !channel) return {{}, "usage: state mixer <dev_no> <channel>"};
    Unit const* const unit = unit_of(static_cast<std::int32_t>(*dev_no), 0, static_cast<std::int32_t>(*channel));
    if (!unit) return {{}, "no channel " + std::to_string(*channel) + " on mixer unit " + std::to_string(*dev_no)};
    std::string line = "sum " + std::to_string(*dev_no) + '/' + std::to_string(*channel) + ':';
    if (auto const sum = unit->sums.find(static_cast<std::int32_t>(*channel)); sum != unit->sums.end())
      for (Link const& link : sum->second) line += ' ' + std::to_string(link.tx) + '@' + std::to_string(link.gain);
    return {{line}, {}};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
