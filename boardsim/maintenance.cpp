#include "boardsim/maintenance.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "boardsim/record_text.h"
#include "foundation/board_io.h"

namespace BoardSim {

namespace {

std::string hex_text(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(value));
  return text;
}

}  // namespace

Maintenance::Maintenance() : Model(Board::kMaintenance) {
  for (unsigned trunk = 0; trunk < kTrunks; ++trunk) m_status[trunk].trunk = trunk;
}

std::optional<std::uint32_t> Maintenance::transmit_clock() const {
  auto const held = lock();
  return m_transmit_clock;
}

char const* Maintenance::request_name(unsigned long request) const {
  switch (request) {
    case Board::E1_TRUNK_STATUS: return "status";
    case Board::E1_TRANSMIT_CLOCK: return "tclk";
    default: return nullptr;
  }
}

std::string Maintenance::decode(unsigned long request, void const* arg) const {
  // The mask is no record: what a pointer to it points at is nobody's business.
  if (request != Board::E1_TRUNK_STATUS) return {};
  return "trunk=" + std::to_string(record_at<Board::E1TrunkStatus>(arg).trunk);
}

std::string Maintenance::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::E1_TRUNK_STATUS) return {};
  Board::E1TrunkStatus const r = record_at<Board::E1TrunkStatus>(arg);
  return "state=" + std::to_string(r.state) + " slips=" + std::to_string(r.slips) + " lossBF=" +
         std::to_string(r.loss_bf) + " lossCarrier=" + std::to_string(r.loss_carrier) + " ais=" + std::to_string(r.ais) +
         " rai=" + std::to_string(r.rai);
}

int Maintenance::ioctl(Open&, unsigned long request, void* arg) {
  if (request != Board::E1_TRUNK_STATUS) return EINVAL;  // the mask goes by value
  Board::E1TrunkStatus const in = record_at<Board::E1TrunkStatus>(arg);
  if (in.trunk >= kTrunks) return EINVAL;
  Board::E1TrunkStatus blank{};
  blank.trunk = in.trunk;
  if (std::memcmp(&blank, &in, sizeof in) != 0) return EINVAL;
  std::memcpy(arg, &m_status[in.trunk], sizeof in);
  return 0;
}

int Maintenance::ioctl_value(Open&, unsigned long request, unsigned long value) {
  if (request != Board::E1_TRANSMIT_CLOCK) return EFAULT;  // a value is no address of a record
  m_transmit_clock = static_cast<std::uint32_t>(value);
  return 0;
}

Model::Answer Maintenance::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    if (!args.empty()) return {{}, "usage: state maintenance"};
    return {{"tclk=" + (m_transmit_clock ? hex_text(*m_transmit_clock) : std::string("-"))}, {}};
  }
  if (verb == "set") {
    std::vector<std::uint32_t> values;
    for (std::string const& word : args)
      if (auto const value = number(word)) values.push_back(*value);
    if (args.size() != 7 || values.size() != 7 || values[0] >= kTrunks)
      return {{}, "usage: set maintenance <trunk 0..3> <state> <slips> <lossBF> <lossCarrier> <ais> <rai>"};
    Board::E1TrunkStatus& s = m_status[values[0]];
    s.trunk = values[0];
    s.state = values[1];
    s.slips = values[2];
    s.loss_bf = values[3];
    s.loss_carrier = values[4];
    s.ais = values[5];
    s.rai = values[6];
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
