#pragma once
// Stand-ins for the log daemon at "/dev/log", for tests that run with a private /dev
// (private_mounts.h). Both throw std::runtime_error when they cannot be set up.

#include <optional>
#include <string>
#include <vector>

#include "foundation/fd.h"

namespace test {

// The records of a batch: each ends with a NUL (trailing text without one counts too).
std::vector<std::string> split_records(std::string const& batch);

// A datagram socket bound at /dev/log; each receive is one send of a client.
class DatagramLogListener {
public:
  DatagramLogListener();
  ~DatagramLogListener();
  DatagramLogListener(DatagramLogListener const&) = delete;
  DatagramLogListener& operator=(DatagramLogListener const&) = delete;

  // The next datagram, or nothing within timeout_ms.
  std::optional<std::string> receive(int timeout_ms = 5000);
  // Datagrams until one holds a record containing `text` (that one included), or none
  // for timeout_ms.
  std::vector<std::string> receive_until(std::string const& text, int timeout_ms = 5000);

private:
  Fd m_socket;
};

// A stream socket listening at /dev/log, the way a daemon that offers only streams does.
class StreamLogListener {
public:
  StreamLogListener();
  ~StreamLogListener();
  StreamLogListener(StreamLogListener const&) = delete;
  StreamLogListener& operator=(StreamLogListener const&) = delete;

  // Accepts a client if none is connected, then reads until `count` records (NUL-ended)
  // have arrived or nothing came for timeout_ms; returns the records read.
  std::vector<std::string> records(std::size_t count, int timeout_ms = 5000);

private:
  Fd m_socket;
  Fd m_client;
  std::string m_pending;
};

// busybox syslogd writing to a file: a real log daemon. Runs only in a process whose
// /dev is private (it unlinks and re-creates /dev/log).
class BusyboxSyslogd {
public:
  explicit BusyboxSyslogd(std::string log_file);
  ~BusyboxSyslogd();
  BusyboxSyslogd(BusyboxSyslogd const&) = delete;
  BusyboxSyslogd& operator=(BusyboxSyslogd const&) = delete;

  void start();
  void stop();
  std::vector<std::string> lines() const;
  // Waits (polling the file) until a line contains `text`.
  bool wait_for(std::string const& text, int timeout_ms = 5000) const;
  std::string const& file() const { return m_file; }
  int pid() const { return m_pid; }

private:
  std::string m_file;
  int m_pid = -1;
};

}  // namespace test
