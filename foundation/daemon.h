#pragma once
// Daemon mode: detaches the process and routes the standard streams into the system log
// (mode 0) or into hourly log files (mode 1). Everything keeps writing to std::cout
// (notices), std::cerr (failures) and std::clog (progress) as in the foreground.

#include <streambuf>
#include <string>

class LogFileStreamBuf;

namespace Daemon {

struct Params {
  unsigned mode = 0;             // 0: system log, 1: log files
  bool nochdir = false;          // false: the working directory becomes "/"
  std::string name = "unknown";  // mode 0: the records' identity; mode 1: the log folder
};

// What Init set up; lives until the process exits.
class Sentry {
public:
  explicit Sentry(Params const& params);
  ~Sentry();
  Sentry(Sentry const&) = delete;
  Sentry& operator=(Sentry const&) = delete;

private:
  unsigned m_mode;
  LogFileStreamBuf* m_file = nullptr;
  std::streambuf* m_saved[3] = {};
};

// The first call detaches; later calls do nothing. A failed detach ends the process
// with status 2.
void Init(Params const& params);

}  // namespace Daemon
