#include "hardware/clock_source.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace Hardware {

namespace {
char const* const kNames[] = {"f0", "f1", "f2", "f3", "freerun", "X3", "?1", "?2"};
}  // namespace

ClockSource::~ClockSource() {
  if (m_fd >= 0) ::close(m_fd);
}

bool ClockSource::IsOpened() {
  if (m_fd >= 0) return true;
  m_fd = Board::io().open(Board::kHal, O_RDWR | O_CLOEXEC);
  return m_fd >= 0;
}

int ClockSource::Select(unsigned source) {
  Board::ClockSelect record{source};
  return Board::io().ioctl(m_fd, Board::HAL_CLOCK_SELECT, &record) < 0 ? errno : 0;
}

char const* ClockSource::Name(unsigned source) {
  return source < sizeof kNames / sizeof kNames[0] ? kNames[source] : nullptr;
}

}  // namespace Hardware
