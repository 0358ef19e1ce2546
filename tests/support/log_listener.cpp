#include "tests/support/log_listener.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/private_mounts.h"

namespace test {

namespace {

char const kLogPath[] = "/dev/log";
char const kBusybox[] = "/bin/busybox";

[[noreturn]] void fail(std::string const& what) { throw std::runtime_error(what + ": " + std::strerror(errno)); }

void require_private_dev() {
  if (!has_private_dev()) throw std::runtime_error("a /dev/log peer runs only with a private /dev (in_private_dev)");
}

Fd bound_socket(int type) {
  require_private_dev();
  Fd s(::socket(AF_UNIX, type | SOCK_CLOEXEC, 0));
  if (!s) fail("socket");
  ::unlink(kLogPath);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, kLogPath);
  if (::bind(s.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind /dev/log");
  return s;
}

bool readable(int fd, int timeout_ms) {
  pollfd record{fd, POLLIN, 0};
  for (;;) {
    int const n = ::poll(&record, 1, timeout_ms);
    if (n < 0 && errno == EINTR) continue;
    return n > 0;
  }
}

}  // namespace

std::vector<std::string> split_records(std::string const& batch) {
  std::vector<std::string> records;
  std::size_t start = 0;
  while (start < batch.size()) {
    std::size_t const end = batch.find('\0', start);
    if (end == std::string::npos) {
      records.push_back(batch.substr(start));
      break;
    }
    records.push_back(batch.substr(start, end - start));
    start = end + 1;
  }
  return records;
}

// --- datagrams --------------------------------------------------------------------------

DatagramLogListener::DatagramLogListener() : m_socket(bound_socket(SOCK_DGRAM)) {}

DatagramLogListener::~DatagramLogListener() { ::unlink(kLogPath); }

std::optional<std::string> DatagramLogListener::receive(int timeout_ms) {
  if (!readable(m_socket.lowlevel_fd(), timeout_ms)) return std::nullopt;
  std::string datagram(65536, '\0');
  ssize_t const n = ::recv(m_socket.lowlevel_fd(), datagram.data(), datagram.size(), 0);
  if (n < 0) fail("recv on /dev/log");
  datagram.resize(static_cast<std::size_t>(n));
  return datagram;
}

std::vector<std::string> DatagramLogListener::receive_until(std::string const& text, int timeout_ms) {
  std::vector<std::string> datagrams;
  while (std::optional<std::string> datagram = receive(timeout_ms)) {
    datagrams.push_back(*datagram);
    for (std::string const& record : split_records(*datagram))
      if (record.find(text) != std::string::npos) return datagrams;
  }
  return datagrams;
}

// --- streams ----------------------------------------------------------------------------

StreamLogListener::StreamLogListener() : m_socket(bound_socket(SOCK_STREAM)) {
  if (::listen(m_socket.lowlevel_fd(), 4) != 0) fail("listen on /dev/log");
}

StreamLogListener::~StreamLogListener() { ::unlink(kLogPath); }

std::vector<std::string> StreamLogListener::records(std::size_t count, int timeout_ms) {
  std::vector<std::string> records;
  if (!m_client) {
    if (!readable(m_socket.lowlevel_fd(), timeout_ms)) return records;
    m_client = Fd(::accept4(m_socket.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!m_client) fail("accept on /dev/log");
  }
  char buf[4096];
  while (records.size() < count) {
    std::size_t end;
    while (records.size() < count && (end = m_pending.find('\0')) != std::string::npos) {
      records.push_back(m_pending.substr(0, end));
      m_pending.erase(0, end + 1);
    }
    if (records.size() == count || !readable(m_client.lowlevel_fd(), timeout_ms)) break;
    ssize_t const n = ::read(m_client.lowlevel_fd(), buf, sizeof buf);
    if (n <= 0) break;
    m_pending.append(buf, static_cast<std::size_t>(n));
  }
  return records;
}

// --- busybox syslogd --------------------------------------------------------------------

BusyboxSyslogd::BusyboxSyslogd(std::string log_file) : m_file(std::move(log_file)) { start(); }

BusyboxSyslogd::~BusyboxSyslogd() { stop(); }

void BusyboxSyslogd::start() {
  require_private_dev();
  if (::access(kBusybox, X_OK) != 0)
    throw std::runtime_error("busybox is missing (Debian package busybox; make test installs it)");
  ::unlink(kLogPath);
  pid_t const parent = ::getpid();
  m_pid = ::fork();
  if (m_pid < 0) fail("fork");
  if (m_pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives the test's namespace
    if (::getppid() != parent) ::_exit(127);
    ::execl(kBusybox, "busybox", "syslogd", "-n", "-O", m_file.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  struct stat st;
  while (::stat(kLogPath, &st) != 0 || !S_ISSOCK(st.st_mode)) {
    int status;
    if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
      m_pid = -1;
      throw std::runtime_error("busybox syslogd ended at start, status " + std::to_string(status));
    }
    if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("busybox syslogd made no /dev/log");
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void BusyboxSyslogd::stop() {
  if (m_pid < 0) return;
  ::kill(m_pid, SIGTERM);
  while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
  }
  m_pid = -1;
}

std::vector<std::string> BusyboxSyslogd::lines() const {
  std::vector<std::string> lines;
  std::ifstream in(m_file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool BusyboxSyslogd::wait_for(std::string const& text, int timeout_ms) const {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    for (std::string const& line : lines())
      if (line.find(text) != std::string::npos) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace test
