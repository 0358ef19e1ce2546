#include "foundation/log_streambuf.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <syslog.h>

#include "foundation/clock.h"
#include "foundation/syslog_manager.h"

namespace {

constexpr int kSysLogAreaSize = 1024;
constexpr int kLogFileAreaSize = 16;

}  // namespace

// --- SysLogStreamBuf ------------------------------------------------------------------

SysLogStreamBuf::SysLogStreamBuf(int facility, int level) : m_priority((facility << 3) + level) {
  setbuf(new char[kSysLogAreaSize], kSysLogAreaSize);
}

SysLogStreamBuf::~SysLogStreamBuf() { delete[] pbase(); }

std::streambuf* SysLogStreamBuf::setbuf(char* buf, std::streamsize n) {
  if (n < 2) return this;
  sync();
  delete[] pbase();
  setp(buf, buf + n - 1);
  return this;
}

int SysLogStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (!pbase() || pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

template <class Emit>
void SysLogStreamBuf::take_records(Emit emit) {
  char* const begin = pbase();
  char* const end = pptr();
  if (!begin) return;
  *end = '\0';  // the byte past the area is kept for this
  char* line_end = static_cast<char*>(std::memchr(begin, '\n', static_cast<std::size_t>(end - begin)));
  if (!line_end && end != epptr()) return;  // waits for the rest of its line
  for (char* start = begin; start < end;) {
    if (!line_end) {
      emit(start);
      break;
    }
    *line_end = '\0';
    emit(start);
    start = line_end + 1;
    line_end = static_cast<char*>(std::memchr(start, '\n', static_cast<std::size_t>(end - start)));
  }
  setp(begin, epptr());
}

int SysLogStreamBuf::sync() {
  take_records([this](char const* line) { ::syslog(m_priority, "%s", line); });
  return 0;
}

// --- ManagedSysLogStreamBuf -----------------------------------------------------------

ManagedSysLogStreamBuf::ManagedSysLogStreamBuf(int facility, int level) : SysLogStreamBuf(facility, level) {
  setbuf(new char[kAreaSize], kAreaSize);
}

int ManagedSysLogStreamBuf::sync() {
  take_records([this](char const* line) { syslogManager.syslog(priority(), "%s", line); });
  // At every flush, so that nothing waits in the batch when the process ends right after
  // (a fatal report flushes the streams and aborts).
  syslogManager.sendmsg();
  return 0;
}

// --- LogFileStreamBuf -----------------------------------------------------------------

LogFileStreamBuf::LogFileStreamBuf(std::string const& directory) : m_directory(directory) {
  setbuf(new char[kLogFileAreaSize], kLogFileAreaSize);
  NewFile();
  m_midline = false;
}

LogFileStreamBuf::~LogFileStreamBuf() { delete[] pbase(); }

std::streambuf* LogFileStreamBuf::setbuf(char* buf, std::streamsize n) {
  if (n < 2) return this;
  sync();
  delete[] pbase();
  setp(buf, buf + n);
  return this;
}

int LogFileStreamBuf::overflow(int c) {
  sync();
  if (traits_type::eq_int_type(c, traits_type::eof())) return 0;
  if (!pbase() || pptr() == epptr()) return traits_type::eof();
  *pptr() = traits_type::to_char_type(c);
  pbump(1);
  return c;
}

void LogFileStreamBuf::NewFile() {
  Mux::timeval now;
  Mux::mux_gettimeofday(&now);
  time_t const seconds = now.tv_sec;
  struct tm local {};
  ::localtime_r(&seconds, &local);
  open_hour(local.tm_hour, local);
}

void LogFileStreamBuf::open_hour(int hour, struct tm const& local) {
  m_file.close();
  m_hour = hour;
  char name[32];
  std::strftime(name, sizeof name, "%Y_%m_%d-%H", &local);
  // Appended to: a restart within the hour keeps what that hour already logged.
  m_file.open(m_directory + "/" + name + ".log", std::ios::out | std::ios::app);
}

int LogFileStreamBuf::sync() {
  char* const begin = pbase();
  if (!begin) return 0;
  char const* text = begin;
  char const* const end = pptr();

  if (m_midline) {
    char const* const line_end =
        static_cast<char const*>(std::memchr(text, '\n', static_cast<std::size_t>(end - text)));
    if (!line_end) {
      write(text, static_cast<std::size_t>(end - text));
      setp(begin, epptr());
      m_file.pubsync();
      return 0;
    }
    write(text, static_cast<std::size_t>(line_end + 1 - text));
    m_midline = false;
    text = line_end + 1;
  }

  Mux::timeval now;
  Mux::mux_gettimeofday(&now);
  time_t const seconds = now.tv_sec;
  struct tm local {};
  ::localtime_r(&seconds, &local);
  if (local.tm_hour != m_hour) open_hour(local.tm_hour, local);

  char prefix[32];
  int const prefix_length = std::snprintf(prefix, sizeof prefix, "%02d:%02d:%05ld: ", local.tm_min, local.tm_sec,
                                          static_cast<long>(now.tv_usec));
  while (text < end) {
    write(prefix, static_cast<std::size_t>(prefix_length));
    char const* const line_end =
        static_cast<char const*>(std::memchr(text, '\n', static_cast<std::size_t>(end - text)));
    if (!line_end) {
      write(text, static_cast<std::size_t>(end - text));
      m_midline = true;
      break;
    }
    write(text, static_cast<std::size_t>(line_end + 1 - text));
    text = line_end + 1;
  }
  setp(begin, epptr());
  m_file.pubsync();
  return 0;
}
