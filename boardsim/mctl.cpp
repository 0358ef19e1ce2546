#include "boardsim/mctl.h"

#include <cstring>

#include "boardsim/record_text.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

bool is_value_request(unsigned long request) {
  return request == Board::MCTL_ALLOCATE || request == Board::MCTL_GET_TIMESLOT || request == Board::MCTL_NEXT_MODEM;
}

// What a start request records in the modem's state.
char const* start_name(unsigned long request) {
  switch (request) {
    case Board::MCTL_ANSWER: return "answer";
    case Board::MCTL_ORIGINATE: return "originate";
    case Board::MCTL_ORIGINATE_FAX: return "originate-fax";
    default: return nullptr;
  }
}

std::string modem_line(Mctl::Modem const& m) {
  std::string line = "modem=" + std::to_string(m.number) + " ts=" + std::to_string(m.timeslot) +
                     (m.held ? " held" : " free") + " mask=" + std::to_string(m.mask) + " dmp=";
  if (m.dmp.empty()) line += '-';
  for (auto it = m.dmp.begin(); it != m.dmp.end(); ++it) {
    if (it != m.dmp.begin()) line += ',';
    line += std::to_string(it->first) + ':' + std::to_string(it->second);
  }
  return line + " start=" + (m.start.empty() ? "-" : m.start);
}

}  // namespace

class Mctl::ModemOpen : public Open {
public:
  std::int32_t modem = -1;  // the modem this open holds
};

Mctl::Mctl() : Model(Board::kModemControl) { replace(4, kFirstTimeslot); }

std::vector<Mctl::Modem> Mctl::modems() const {
  auto const held = lock();
  return m_modems;
}

bool Mctl::set_modems(unsigned count, std::uint32_t first_timeslot) {
  auto const held = lock();
  return replace(count, first_timeslot);
}

bool Mctl::replace(unsigned count, std::uint32_t first_timeslot) {
  // A timeslot is a request's result: it must stay a non-negative int.
  if (count > kMaxModems || first_timeslot > kLastFirstTimeslot) return false;
  for (Modem const& m : m_modems)
    if (m.held) return false;
  m_modems.assign(count, Modem{});
  for (unsigned i = 0; i < count; ++i) {
    m_modems[i].number = static_cast<std::int32_t>(i);
    m_modems[i].timeslot = first_timeslot + i;
  }
  return true;
}

Mctl::Modem* Mctl::find(std::int32_t number) {
  for (Modem& m : m_modems)
    if (m.number == number) return &m;
  return nullptr;
}

std::unique_ptr<Model::Open> Mctl::make_open() { return std::make_unique<ModemOpen>(); }

void Mctl::close(Open& open) {
  auto& mine = static_cast<ModemOpen&>(open);
  if (Modem* const m = find(mine.modem)) m->held = false;
  mine.modem = -1;
}

char const* Mctl::request_name(unsigned long request) const {
  switch (request) {
    case Board::MCTL_ALLOCATE: return "allocate";
    case Board::MCTL_GET_TIMESLOT: return "get-timeslot";
    case Board::MCTL_NEXT_MODEM: return "next-modem";
    case Board::MCTL_SET_DDM: return "set-ddm";
    case Board::MCTL_RESET_DMP: return "reset-dmp";
    case Board::MCTL_SET_DMP: return "set-dmp";
    default: return start_name(request);
  }
}

std::size_t Mctl::record_size(unsigned long request) const {
  if (is_value_request(request)) return 0;
  return request == Board::MCTL_SET_DMP ? sizeof(Board::ModemParameter) : sizeof(Board::ModemCommand);
}

std::string Mctl::decode(unsigned long request, void const* arg) const {
  if (is_value_request(request)) return {};
  if (request == Board::MCTL_SET_DDM) {
    auto const r = record_at<Board::ModemMode>(arg);
    return "modem=" + std::to_string(r.modem) + " mask=" + std::to_string(r.mask);
  }
  if (request == Board::MCTL_SET_DMP) {
    auto const r = record_at<Board::ModemParameter>(arg);
    return "modem=" + std::to_string(r.modem) + " offset=" + std::to_string(r.offset) +
           " value=" + std::to_string(r.value);
  }
  auto const r = record_at<Board::ModemCommand>(arg);
  return "modem=" + std::to_string(r.modem) + " arg=" + std::to_string(r.arg);
}

int Mctl::ioctl(Open& open, unsigned long request, void* arg) {
  // A value request given an address reads it as a far too large value.
  if (is_value_request(request)) return EINVAL;
  auto& mine = static_cast<ModemOpen&>(open);
  // Every record's first word names the modem, which must be the open's own.
  Modem* const m = find(record_at<std::int32_t>(arg));
  if (mine.modem < 0 || !m || m->number != mine.modem) return EINVAL;
  if (request == Board::MCTL_SET_DDM) {
    auto const r = record_at<Board::ModemMode>(arg);
    if (r.mask > 7) return EINVAL;
    m->mask = r.mask;
    return 0;
  }
  if (request == Board::MCTL_SET_DMP) {
    auto const r = record_at<Board::ModemParameter>(arg);
    if (r.offset < 0) return EINVAL;
    m->dmp[r.offset] = r.value;
    return 0;
  }
  if (record_at<Board::ModemCommand>(arg).arg != -1) return EINVAL;
  if (request == Board::MCTL_RESET_DMP)
    m->dmp.clear();
  else
    m->start = start_name(request);
  return 0;
}

int Mctl::ioctl_value(Open& open, unsigned long request, unsigned long value) {
  if (!is_value_request(request)) return EFAULT;
  auto& mine = static_cast<ModemOpen&>(open);
  if (request == Board::MCTL_NEXT_MODEM) {
    auto const after = static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    Modem const* next = nullptr;
    for (Modem const& m : m_modems)
      if (m.number > after && (!next || m.number < next->number)) next = &m;
    if (!next) return ENODEV;
    set_result(next->number);
    return 0;
  }
  if (value != 0) return EINVAL;
  if (request == Board::MCTL_GET_TIMESLOT) {
    Modem const* const m = find(mine.modem);
    if (mine.modem < 0 || !m) return EINVAL;
    set_result(m->timeslot);
    return 0;
  }
  if (mine.modem >= 0) return EINVAL;
  Modem* lowest = nullptr;
  for (Modem& m : m_modems)
    if (!m.held && (!lowest || m.number < lowest->number)) lowest = &m;
  if (!lowest) return EBUSY;
  *lowest = Modem{lowest->number, lowest->timeslot, true, 0, {}, {}};
  mine.modem = lowest->number;
  set_result(lowest->number);
  return 0;
}

Model::Answer Mctl::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    if (!args.empty()) return {{}, "usage: state mctl"};
    Answer answer;
    for (Modem const& m : m_modems) answer.lines.push_back(modem_line(m));
    return answer;
  }
  if (verb == "set") {
    bool const well_formed = (args.size() == 2 || args.size() == 3) && args[0] == "modems";
    auto const count = well_formed ? number(args[1], kMaxModems) : std::nullopt;
    auto const first = args.size() == 3 ? number(args[2], kLastFirstTimeslot) : std::optional(kFirstTimeslot);
    if (!count || !first) return {{}, "usage: set mctl modems <count 0.." + std::to_string(kMaxModems) + "> [<first ts>]"};
    if (!replace(*count, *first)) return {{}, "a modem is held"};
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
