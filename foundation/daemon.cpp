#include "foundation/daemon.h"

#include <cstdlib>
#include <iostream>
#include <syslog.h>
#include <unistd.h>

#include "foundation/log_streambuf.h"
#include "foundation/syslog_manager.h"

namespace Daemon {

namespace {

// Longest identity kept for the records.
constexpr std::size_t kIdentityChars = 79;
constexpr int kFacilityDaemon = 3;

}  // namespace

Sentry::Sentry(Params const& params) : m_mode(params.mode) {
  if (::daemon(params.nochdir ? 1 : 0, 0) != 0) {
    std::cerr << "daemon() fail!" << std::endl;
    std::exit(2);
  }
  if (m_mode == 0) {
    syslogManager.openlog(params.name.substr(0, kIdentityChars).c_str(), LOG_NDELAY, 0);
    // Never deleted: the streams use them until the very end of the process.
    std::cout.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, LOG_NOTICE));
    std::cerr.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, LOG_ERR));
    std::clog.rdbuf(new ManagedSysLogStreamBuf(kFacilityDaemon, LOG_DEBUG));
    std::cin.tie(&std::cout);
    // Raw writes to 1 and 2, by this process or its children, reach the log too.
    int const fd = syslogManager.fd();
    if (fd >= 0) {
      ::dup2(fd, STDOUT_FILENO);
      ::dup2(fd, STDERR_FILENO);
    }
  } else if (m_mode == 1) {
    m_file = new LogFileStreamBuf(params.name);
    m_saved[0] = std::cout.rdbuf(m_file);
    m_saved[1] = std::cerr.rdbuf(m_file);
    m_saved[2] = std::clog.rdbuf(m_file);
  }
}

Sentry::~Sentry() {
  if (!m_file) return;
  // The file buffer drops what it still holds when deleted.
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::cout.rdbuf(m_saved[0]);
  std::cerr.rdbuf(m_saved[1]);
  std::clog.rdbuf(m_saved[2]);
  delete m_file;
}

void Init(Params const& params) { static Sentry const sentry(params); }

}  // namespace Daemon
