#include "slots/mixer/mixer_ctl.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "foundation/board_io.h"
#include "hardware/device_names.h"

namespace Mixer {

int mixer_ctl(unsigned long request, void* record) {
  int const fd = Board::io().open(GetMixerDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  int const result = Board::io().ioctl(fd, request, record);
  int const error = errno;
  ::close(fd);
  errno = error;
  return result;
}

}  // namespace Mixer
