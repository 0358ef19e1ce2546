#pragma once
// The process's own client of the local log daemon on "/dev/log". Records are collected
// into a batch that leaves in one send: when the caller flushes (sendmsg), at 256
// records, or once it holds more than 12,288 bytes. A broken socket is reopened on the
// next record; when the log cannot be reached the record can go to the console.

#include <cstddef>
#include <cstdarg>
#include <string>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>

class SysLogManager {
public:
  // A record is at most this many characters, then its NUL.
  static constexpr std::size_t kRecordChars = 1023;
  static constexpr std::size_t kBatchBytes = 16384;
  static constexpr std::size_t kBatchRecords = 256;
  // A batch that grows past this many bytes leaves at once.
  static constexpr std::size_t kBatchSendAbove = 12288;

  SysLogManager();
  // The socket is left to the process's exit.
  ~SysLogManager() = default;
  SysLogManager(SysLogManager const&) = delete;
  SysLogManager& operator=(SysLogManager const&) = delete;

  // As openlog(3): LOG_PID, LOG_CONS, LOG_NDELAY and LOG_PERROR are honoured.
  void openlog(char const* ident, int option, int facility);
  void closelog();
  // One record; a format of "%s" with a line as its argument logs the line as data.
  void syslog(int priority, char const* format, ...) __attribute__((format(printf, 3, 4)));
  void vsyslog(int priority, char const* format, va_list arguments) __attribute__((format(printf, 3, 0)));
  // Sends the pending batch now. Returns the send's result (0 when there was nothing to
  // send); a failed send drops the batch and closes the socket for the next record to
  // reopen.
  int sendmsg();

  // The log socket (-1 when none).
  int fd() const { return m_fd; }
  bool connected() const { return m_connected; }
  int socket_type() const { return m_type; }

private:
  void openlog_internal(char const* ident, int option, int facility);
  int sendmsg_internal(char const* data, std::size_t length);
  int send_batch();
  void disconnect();
  void to_console(char const* message, std::size_t length);
  // Appends to the record, cut at kRecordChars; returns the new length.
  std::size_t append(std::size_t length, char const* text, std::size_t count);
  std::size_t append_time(std::size_t length);

  int m_type;
  int m_fd = -1;
  bool m_connected = false;
  int m_options = 0;
  std::string m_ident;
  int m_facility;
  int m_mask = 0xff;
  sockaddr_un m_address{};

  char m_record[kRecordChars + 1];

  // The time text of the last second seen: most records of a burst share it.
  int m_stamp_second = -1;
  char m_stamp[32] = {};
  std::size_t m_stamp_length = 0;

  char m_batch[kBatchBytes];
  std::size_t m_used = 0;
  iovec m_records[kBatchRecords];
  std::size_t m_count = 0;
};

// The process's client; never destroyed, so streams flushed at exit can still log.
extern SysLogManager& syslogManager;
