#include "tests/support/tcp_host.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `end`, never below 0.
int left(Clock::time_point end) {
  auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
  return ms > 0 ? static_cast<int>(ms) : 0;
}

bool readable(int fd, int wait_ms) {
  pollfd p{fd, POLLIN, 0};
  int got;
  while ((got = ::poll(&p, 1, wait_ms)) < 0 && errno == EINTR) {
  }
  return got > 0;
}

sockaddr_in loopback(std::string const& address, int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_aton(address.c_str(), &a.sin_addr);
  return a;
}

}  // namespace

TcpHost::TcpHost(int backlog, std::string const& address, int port)
    : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  int const on = 1;
  ::setsockopt(m_socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a = loopback(address, port);
  socklen_t size = sizeof a;
  if (::bind(m_socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), size) != 0 ||
      ::listen(m_socket.lowlevel_fd(), backlog) != 0 ||
      ::getsockname(m_socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &size) != 0)
    return;
  m_port = ntohs(a.sin_port);
}

std::string TcpHost::address() const { return "127.0.0.1:" + std::to_string(m_port); }

Fd TcpHost::accept(int wait_ms) {
  if (!readable(m_socket.lowlevel_fd(), wait_ms)) return {};
  return Fd(::accept4(m_socket.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
}

bool TcpHost::pending(int wait_ms) { return readable(m_socket.lowlevel_fd(), wait_ms); }

Fd connect_loopback(int port) {
  Fd connection(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in const a = loopback("127.0.0.1", port);
  if (::connect(connection.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&a), sizeof a) != 0) return {};
  return connection;
}

std::string read_bytes(Fd& connection, std::size_t count, int wait_ms) {
  auto const end = Clock::now() + std::chrono::milliseconds(wait_ms);
  std::string bytes;
  char buffer[4096];
  while (bytes.size() < count && readable(connection.lowlevel_fd(), left(end))) {
    ssize_t const got = ::recv(connection.lowlevel_fd(), buffer, std::min(sizeof buffer, count - bytes.size()), 0);
    if (got <= 0) break;
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

bool reads_end(Fd& connection, int wait_ms) {
  auto const end = Clock::now() + std::chrono::milliseconds(wait_ms);
  char buffer[4096];
  while (readable(connection.lowlevel_fd(), left(end))) {
    ssize_t const got = ::recv(connection.lowlevel_fd(), buffer, sizeof buffer, 0);
    if (got == 0) return true;
    if (got < 0) return false;
  }
  return false;
}

bool send_all(Fd& connection, std::string const& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t const n = ::send(connection.lowlevel_fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

void reset(Fd& connection) {
  linger const now{1, 0};
  ::setsockopt(connection.lowlevel_fd(), SOL_SOCKET, SO_LINGER, &now, sizeof now);
  connection.close();
}

}  // namespace test
