#pragma once
// The pid file: exists, holding the process id, exactly while the object lives.

#include <string>

#include "foundation/fd.h"

namespace Linux {

class Run {
public:
  // "/var/run/<name>.pid", overwritten if present. Failing to create it is silent:
  // the object is then inert.
  explicit Run(char const* name);
  ~Run();
  Run(Run const&) = delete;
  Run& operator=(Run const&) = delete;

private:
  Fd m_fd;
  std::string m_path;
};

}  // namespace Linux
