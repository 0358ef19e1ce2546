#include "foundation/syslog_manager.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include "foundation/clock.h"

namespace {

char const kLogPath[] = "/dev/log";
char const kDefaultIdent[] = "syslog-qx";

union Storage {
  Storage() : manager() {}
  ~Storage() {}
  SysLogManager manager;
};
Storage g_storage;

}  // namespace

SysLogManager& syslogManager = g_storage.manager;

SysLogManager::SysLogManager() : m_type(SOCK_DGRAM), m_ident(kDefaultIdent), m_facility(LOG_USER) {
  m_address.sun_family = AF_UNIX;
  std::memcpy(m_address.sun_path, kLogPath, sizeof kLogPath);
}

void SysLogManager::openlog(char const* ident, int option, int facility) { openlog_internal(ident, option, facility); }

void SysLogManager::openlog_internal(char const* ident, int option, int facility) {
  if (ident) m_ident = ident;
  m_options = option;
  if (facility != 0 && (facility & ~LOG_FACMASK) == 0) m_facility = facility;

  for (int attempt = 0; attempt < 2; ++attempt) {
    if (m_fd < 0) {
      if (!(m_options & LOG_NDELAY)) return;
      m_fd = ::socket(AF_UNIX, m_type | SOCK_CLOEXEC, 0);
      if (m_fd < 0) return;
    }
    if (m_connected) return;
    if (::connect(m_fd, reinterpret_cast<sockaddr const*>(&m_address), sizeof m_address) == 0) {
      m_connected = true;
      return;
    }
    int const error = errno;
    disconnect();
    // The daemon listens on a socket of the other type.
    if (error != EPROTOTYPE) return;
    m_type = m_type == SOCK_DGRAM ? SOCK_STREAM : SOCK_DGRAM;
  }
}

void SysLogManager::closelog() {
  disconnect();
  m_ident = kDefaultIdent;
  m_type = SOCK_DGRAM;
  m_used = 0;
  m_count = 0;
}

void SysLogManager::disconnect() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  m_connected = false;
}

void SysLogManager::syslog(int priority, char const* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  vsyslog(priority, format, arguments);
  va_end(arguments);
}

std::size_t SysLogManager::append(std::size_t length, char const* text, std::size_t count) {
  std::size_t const taken = std::min(count, kRecordChars - length);
  std::memcpy(m_record + length, text, taken);
  return length + taken;
}

std::size_t SysLogManager::append_time(std::size_t length) {
  int const second = Mux::seconds();
  if (second != m_stamp_second) {
    time_t const t = second;
    struct tm local;
    m_stamp_length = ::localtime_r(&t, &local) ? std::strftime(m_stamp, sizeof m_stamp, "%h %e %T ", &local) : 0;
    m_stamp_second = second;
  }
  return append(length, m_stamp, m_stamp_length);
}

void SysLogManager::vsyslog(int priority, char const* format, va_list arguments) {
  if (!(m_mask & LOG_MASK(LOG_PRI(priority)))) return;
  if ((priority & LOG_FACMASK) == 0) priority |= m_facility;

  char number[32];
  std::size_t length =
      append(0, number, static_cast<std::size_t>(std::snprintf(number, sizeof number, "<%d>", priority)));
  length = append_time(length);
  std::size_t const message = length;
  if (!m_ident.empty()) length = append(length, m_ident.data(), m_ident.size());
  if (m_options & LOG_PID)
    length = append(length, number, static_cast<std::size_t>(std::snprintf(number, sizeof number, "[%d]", ::getpid())));
  if (!m_ident.empty()) length = append(length, ": ", 2);
  if (length < kRecordChars) {
    int const written = std::vsnprintf(m_record + length, kRecordChars + 1 - length, format, arguments);
    if (written > 0) length = std::min(length + static_cast<std::size_t>(written), kRecordChars);
  }
  m_record[length] = '\0';

  if (m_options & LOG_PERROR) {
    bool const ends_line = length > message && m_record[length - 1] == '\n';
    iovec parts[2] = {{m_record + message, length - message}, {const_cast<char*>("\n"), ends_line ? 0u : 1u}};
    [[maybe_unused]] ssize_t const ignored = ::writev(STDERR_FILENO, parts, 2);
  }

  if (!m_connected) openlog_internal(nullptr, m_options | LOG_NDELAY, 0);
  std::size_t const with_nul = length + 1;
  if (m_connected) {
    if (sendmsg_internal(m_record, with_nul) >= 0) return;
    // The failed send closed the socket: reopen it and offer the record once more.
    openlog_internal(nullptr, m_options | LOG_NDELAY, 0);
    if (m_connected && sendmsg_internal(m_record, with_nul) >= 0) return;
  }
  disconnect();
  if (m_options & LOG_CONS) to_console(m_record + message, length - message);
}

void SysLogManager::to_console(char const* message, std::size_t length) {
  int const fd = ::open("/dev/console", O_WRONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  iovec parts[2] = {{const_cast<char*>(message), length}, {const_cast<char*>("\r\n"), 2}};
  [[maybe_unused]] ssize_t const ignored = ::writev(fd, parts, 2);
  ::close(fd);
}

int SysLogManager::sendmsg_internal(char const* data, std::size_t length) {
  if (!data || length == 0) return 0;
  if (m_used + length >= kBatchBytes || m_count >= kBatchRecords) {
    int const result = sendmsg();
    if (result < 0) return result;
  }
  std::memcpy(m_batch + m_used, data, length);
  m_records[m_count] = {m_batch + m_used, length};
  m_used += length;
  ++m_count;
  if (m_count >= kBatchRecords || m_used > kBatchSendAbove) return sendmsg();
  return 0;
}

int SysLogManager::sendmsg() {
  if (m_used == 0 || m_count == 0) return 0;
  int const result = m_fd >= 0 ? send_batch() : 0;
  m_used = 0;
  m_count = 0;
  if (result < 0) disconnect();
  return result;
}

int SysLogManager::send_batch() {
  msghdr header{};
  header.msg_iov = m_records;
  header.msg_iovlen = m_count;
  bool const stream = m_type == SOCK_STREAM;
  // A connected stream socket refuses an address (EISCONN); a datagram goes to whatever
  // now listens at the path, so a restarted daemon is reached without a reconnect.
  if (!stream) {
    header.msg_name = &m_address;
    header.msg_namelen = sizeof m_address;
  }
  std::size_t sent = 0;
  for (;;) {
    ssize_t const result = ::sendmsg(m_fd, &header, MSG_NOSIGNAL);
    if (result < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    sent += static_cast<std::size_t>(result);
    if (!stream || sent >= m_used) return static_cast<int>(sent);
    // A stream may take part of the batch; the rest follows, or the daemon would read
    // the next batch glued to half a record.
    std::size_t skip = static_cast<std::size_t>(result);
    while (skip >= header.msg_iov->iov_len) {
      skip -= header.msg_iov->iov_len;
      ++header.msg_iov;
      --header.msg_iovlen;
    }
    header.msg_iov->iov_base = static_cast<char*>(header.msg_iov->iov_base) + skip;
    header.msg_iov->iov_len -= skip;
  }
}
