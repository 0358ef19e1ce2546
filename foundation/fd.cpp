#include "foundation/fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

Fd::Fd(int fd) : m_fd(fd) {
  if (m_fd >= 0) SetCloexec(m_fd, true);
}

Fd::Fd(Fd const& other) : m_fd(other.dup()) {}

Fd& Fd::operator=(Fd const& other) {
  if (this != &other) {
    close();
    m_fd = other.dup();
  }
  return *this;
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    close();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

Fd::~Fd() {
  if (m_fd >= 0) ::close(m_fd);
}

int Fd::dup() const {
  if (m_fd < 0) return -1;
  return ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
}

bool Fd::open(char const* path, int flags) {
  close();
  m_fd = ::open(path, flags | O_CLOEXEC);
  return m_fd >= 0;
}

int Fd::close() {
  if (m_fd < 0) {
    errno = EBADF;
    return -1;
  }
  int const fd = m_fd;
  m_fd = -1;
  return ::close(fd);
}

bool Fd::NonBlock() { return m_fd >= 0 && NonBlockMode(m_fd); }

int read(Fd& fd, void* buf, unsigned int len) { return static_cast<int>(::read(fd.lowlevel_fd(), buf, len)); }

int write(Fd& fd, void const* buf, unsigned int len) {
  return static_cast<int>(::write(fd.lowlevel_fd(), buf, len));
}

int close(Fd& fd) { return fd.close(); }

namespace {
bool set_status_flag(int fd, bool on) {
  int const flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFL, on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}
}  // namespace

bool NonBlockMode(int fd) { return set_status_flag(fd, true); }
bool BlockMode(int fd) { return set_status_flag(fd, false); }

bool SetCloexec(int fd, bool on) {
  int const flags = ::fcntl(fd, F_GETFD);
  if (flags < 0) return false;
  return ::fcntl(fd, F_SETFD, on ? flags | FD_CLOEXEC : flags & ~FD_CLOEXEC) == 0;
}

Errno::Errno() : m_value(errno) {}

void Errno::Put(std::ostream& os) const { os << std::strerror(m_value); }

std::ostream& operator<<(std::ostream& os, Errno const& e) {
  e.Put(os);
  return os;
}
