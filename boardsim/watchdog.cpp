#include "boardsim/watchdog.h"

#include <fcntl.h>

#include "foundation/board_io.h"
#include "foundation/clock.h"

namespace BoardSim {

Watchdog::Watchdog() : Model(Board::kWatchdog) {}

std::vector<Watchdog::Write> Watchdog::writes() const {
  auto const held = lock();
  return m_writes;
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
  m_writes.push_back({std::string(data), Mux::milliseconds()});
  return 0;
}

}  // namespace BoardSim
