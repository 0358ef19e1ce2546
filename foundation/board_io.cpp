#include "foundation/board_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace Board {

namespace {
SystemIo g_system;
Io* g_installed = nullptr;
}  // namespace

int SystemIo::open(char const* path, int flags) { return ::open(path, flags | O_CLOEXEC); }

int SystemIo::ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

int SystemIo::ioctl_value(int fd, unsigned long request, unsigned long value) {
  return ::ioctl(fd, request, value);
}

ssize_t SystemIo::read(int fd, void* buf, std::size_t len) { return ::read(fd, buf, len); }

ssize_t SystemIo::write(int fd, void const* buf, std::size_t len) { return ::write(fd, buf, len); }

Io& io() { return g_installed ? *g_installed : g_system; }

Io* install(Io* impl) {
  Io* previous = g_installed;
  g_installed = impl;
  return previous;
}

}  // namespace Board
