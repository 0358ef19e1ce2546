#pragma once
// The one door to the board's devices. Production code opens, drives, reads and writes
// every board device through Board::io(); the default implementation is the system
// calls, the board stand-in installs its own.

#include <cstddef>
#include <sys/types.h>

namespace Board {

// Device paths of the board, defined here so that no other production file names "/dev/".
inline constexpr char const kWatchdog[] = "/dev/misc/gw-wd";
// The time-slot switch; its requests are in foundation/board_requests.h.
inline constexpr char const kHal[] = "/dev/hal";

class Io {
public:
  virtual ~Io() = default;
  virtual int open(char const* path, int flags) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual int ioctl_value(int fd, unsigned long request, unsigned long value) = 0;
  virtual ssize_t read(int fd, void* buf, std::size_t len) = 0;
  virtual ssize_t write(int fd, void const* buf, std::size_t len) = 0;
};

// Forwards every call to the system.
class SystemIo : public Io {
public:
  int open(char const* path, int flags) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  int ioctl_value(int fd, unsigned long request, unsigned long value) override;
  ssize_t read(int fd, void* buf, std::size_t len) override;
  ssize_t write(int fd, void const* buf, std::size_t len) override;
};

Io& io();

// Installs the implementation behind io(); null restores the system calls. Returns the
// previous one (null when it was the system's).
Io* install(Io* impl);

}  // namespace Board
