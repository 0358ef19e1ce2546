#include "boardsim/watchdog.h"

#include <fcntl.h>

#include "foundation/board_io.h"
#include "foundation/clock.h"

namespace BoardSim {

namespace {

char const* state_name(Watchdog::State state) {
  switch (state) {
    case Watchdog::State::idle: return "idle";
    case Watchdog::State::started: return "started";
    case Watchdog::State::stopped: return "stopped";
  }
  return "?";
}

}  // namespace

Watchdog::Watchdog(std::size_t capacity) : Model(Board::kWatchdog), m_writes(capacity) {}

std::vector<Watchdog::Write> Watchdog::writes() const {
  auto const held = lock();
  return m_writes.entries();
}

std::uint64_t Watchdog::dropped_writes() const {
  auto const held = lock();
  return m_writes.dropped();
}

Watchdog::State Watchdog::state() const {
  auto const held = lock();
  return m_state;
}

int Watchdog::open_count() const {
  auto const held = lock();
  return m_open_count;
}

int Watchdog::open(Open&, int flags) {
  if ((flags & O_ACCMODE) != O_WRONLY) return EINVAL;
  ++m_open_count;
  return 0;
}

void Watchdog::close(Open&) { --m_open_count; }

int Watchdog::write(Open&, std::string_view data) {
  if (data == "START") {
    m_state = State::started;
  } else if (data == "STOP") {
    m_state = State::stopped;
  } else if (data != "PING") {
    return EINVAL;
  }
  m_writes.add({std::string(data), Mux::milliseconds()});
  return 0;
}

Model::Answer Watchdog::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb != "state") return Model::command(verb, args);
  if (!args.empty()) return {{}, "usage: state " + path()};
  Answer answer;
  answer.lines.push_back(std::string("state ") + state_name(m_state));
  answer.lines.push_back("opens " + std::to_string(m_open_count));
  m_writes.each([&](Write const& write) { answer.lines.push_back(std::to_string(write.ms) + ' ' + write.text); });
  answer.lines.push_back("dropped " + std::to_string(m_writes.dropped()));
  return answer;
}

}  // namespace BoardSim
