#include "boardsim/e1_cas.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "boardsim/record_text.h"
#include "foundation/board_io.h"

namespace BoardSim {

namespace {

std::string channel_text(Board::CasChannel const& r) {
  return "trunk=" + std::to_string(r.trunk) + " timeslot=" + std::to_string(r.timeslot) + " rx=" + byte_text(r.rx) +
         " tx=" + byte_text(r.tx);
}

constexpr std::uint8_t kBits = 0x0f;

}  // namespace

E1Cas::E1Cas() : Model(Board::kE1Cas) {}

bool E1Cas::trunk_open(unsigned trunk) const {
  auto const held = lock();
  return trunk < kTrunks && m_open[trunk];
}

E1Cas::Timeslot E1Cas::timeslot(unsigned trunk, unsigned timeslot) const {
  auto const held = lock();
  return trunk < kTrunks && timeslot < kTimeslots ? m_slots[trunk][timeslot] : Timeslot{};
}

int E1Cas::open(Open& open, int) {
  m_opens.push_back(&open);
  return 0;
}

void E1Cas::close(Open& open) { m_opens.erase(std::remove(m_opens.begin(), m_opens.end(), &open), m_opens.end()); }

char const* E1Cas::request_name(unsigned long request) const {
  switch (request) {
    case Board::CAS_OPEN_TRUNK: return "open-trunk";
    case Board::CAS_CLOSE_TRUNK: return "close-trunk";
    case Board::CAS_SET_BITS: return "set-bits";
    case Board::CAS_GET_BITS: return "get-bits";
    case Board::CAS_CONFIGURE: return "configure";
    default: return nullptr;
  }
}

std::string E1Cas::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::CAS_SET_BITS:
    case Board::CAS_GET_BITS: return channel_text(record_at<Board::CasChannel>(arg));
    case Board::CAS_CONFIGURE: {
      auto const r = record_at<Board::CasConfigure>(arg);
      return channel_text(r.channel) + " off=" + std::to_string(r.off);
    }
    default: return {};  // the trunk goes by value: a pointer points at nothing of ours
  }
}

std::string E1Cas::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::CAS_GET_BITS) return {};
  auto const r = record_at<Board::CasChannel>(arg);
  return "got-rx=" + byte_text(r.rx) + " got-tx=" + byte_text(r.tx);
}

int E1Cas::check(Board::CasChannel const& r) const {
  if (r.trunk >= kTrunks || r.timeslot >= kTimeslots || r.rx != 0 || r.tx > kBits) return EINVAL;
  if (r.padding[0] || r.padding[1] || !m_open[r.trunk]) return EINVAL;
  return 0;
}

int E1Cas::ioctl(Open&, unsigned long request, void* arg) {
  switch (request) {
    case Board::CAS_SET_BITS: {
      auto const r = record_at<Board::CasChannel>(arg);
      if (int const error = check(r)) return error;
      m_slots[r.trunk][r.timeslot].tx = r.tx;
      return 0;
    }
    case Board::CAS_GET_BITS: {
      auto r = record_at<Board::CasChannel>(arg);
      if (int const error = check(r)) return error;
      r.rx = m_slots[r.trunk][r.timeslot].rx;
      r.tx = m_slots[r.trunk][r.timeslot].tx;
      std::memcpy(arg, &r, sizeof r);
      return 0;
    }
    case Board::CAS_CONFIGURE: {
      auto const r = record_at<Board::CasConfigure>(arg);
      if (int const error = check(r.channel)) return error;
      if (r.off > 1) return EINVAL;
      Timeslot& slot = m_slots[r.channel.trunk][r.channel.timeslot];
      slot.on = r.off == 0;
      slot.tx = r.channel.tx;
      return 0;
    }
    default: return EINVAL;  // the trunk requests take the number itself
  }
}

int E1Cas::ioctl_value(Open&, unsigned long request, unsigned long value) {
  if (request != Board::CAS_OPEN_TRUNK && request != Board::CAS_CLOSE_TRUNK) return EFAULT;
  if (value >= kTrunks) return EINVAL;
  bool const open = request == Board::CAS_OPEN_TRUNK;
  m_open[value] = open;
  if (!open)
    for (Timeslot& slot : m_slots[value]) slot.on = false;
  return 0;
}

std::string E1Cas::state_text(unsigned trunk, unsigned timeslot) const {
  Timeslot const& slot = m_slots[trunk][timeslot];
  return "open=" + std::to_string(m_open[trunk]) + " on=" + std::to_string(slot.on) + " rx=" + byte_text(slot.rx) +
         " tx=" + byte_text(slot.tx);
}

Model::Answer E1Cas::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    auto const trunk = args.size() == 2 ? number(args[0], kTrunks - 1) : std::nullopt;
    auto const slot = args.size() == 2 ? number(args[1], kTimeslots - 1) : std::nullopt;
    if (!trunk || !slot) return {{}, "usage: state e1-cas <trunk 0..3> <timeslot 0..31>"};
    return {{state_text(*trunk, *slot)}, {}};
  }
  if (verb == "set") {
    bool const rx = args.size() == 4 && args[0] == "rx";
    auto const trunk = rx ? number(args[1], kTrunks - 1) : std::nullopt;
    auto const slot = rx ? number(args[2], kTimeslots - 1) : std::nullopt;
    auto const bits = rx ? number(args[3], kBits) : std::nullopt;
    if (!trunk || !slot || !bits) return {{}, "usage: set e1-cas rx <trunk 0..3> <timeslot 0..31> <bits 0..15>"};
    Timeslot& target = m_slots[*trunk][*slot];
    target.rx = static_cast<std::uint8_t>(*bits);
    if (!m_open[*trunk] || !target.on || m_opens.empty()) return {};
    Board::CasChannel const change{*trunk, *slot, target.rx, target.tx, {0, 0}};
    if (!m_opens.front()->deliver(&change, sizeof change)) return {{}, "the change was not delivered"};
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
