#include "foundation/run.h"

#include <fcntl.h>
#include <unistd.h>

namespace Linux {

Run::Run(char const* name) : m_path(std::string("/var/run/") + name + ".pid") {
  m_fd = Fd(::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644));
  if (!m_fd) return;
  std::string const pid = std::to_string(::getpid());
  write(m_fd, pid.data(), static_cast<unsigned>(pid.size()));
  ::fsync(m_fd.lowlevel_fd());
}

Run::~Run() {
  if (!m_fd) return;
  m_fd.close();
  ::unlink(m_path.c_str());
}

}  // namespace Linux
