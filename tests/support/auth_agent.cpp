#include "tests/support/auth_agent.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;

int left_ms(Clock::time_point deadline) {
  auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

std::string auth_words(std::vector<std::uint32_t> const& words) {
  std::string bytes(words.size() * 4, '\0');
  std::memcpy(bytes.data(), words.data(), bytes.size());
  return bytes;
}

std::string auth_request(std::uint32_t session, std::string const& user, std::string const& password) {
  std::string bytes = auth_words({140, 1, session});
  bytes += user.substr(0, 64) + std::string(64 - std::min<std::size_t>(64, user.size()), '\0');
  bytes += password.substr(0, 64) + std::string(64 - std::min<std::size_t>(64, password.size()), '\0');
  return bytes;
}

std::string auth_accounting(std::uint32_t session, std::vector<std::uint32_t> const& words) {
  std::vector<std::uint32_t> record = {64, 4, session};
  record.insert(record.end(), words.begin(), words.end());
  record.resize(16);
  return auth_words(record);
}

std::string AuthAgent::connect(int port, int receive_buffer) {
  m_fd = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!m_fd) return std::string("socket: ") + std::strerror(errno);
  if (receive_buffer > 0)
    ::setsockopt(m_fd.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    std::string const why = std::string("connect to 127.0.0.1:") + std::to_string(port) + ": " + std::strerror(errno);
    m_fd.close();
    return why;
  }
  int const on = 1;
  ::setsockopt(m_fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return {};
}

int AuthAgent::port() const {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  if (::getsockname(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  return ntohs(address.sin_port);
}

bool AuthAgent::send(std::string const& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t const n = ::send(m_fd.lowlevel_fd(), bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool AuthAgent::delivered(int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    int queued = 0;
    if (::ioctl(m_fd.lowlevel_fd(), TIOCOUTQ, &queued) != 0) return false;
    if (queued == 0) return true;
    if (Clock::now() > deadline) return false;
    ::usleep(500);
  }
}

std::string AuthAgent::read(std::size_t count, int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  std::string got;
  while (got.size() < count) {
    pollfd ready{m_fd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&ready, 1, left_ms(deadline)) <= 0) break;
    char buf[4096];
    ssize_t const n = ::recv(m_fd.lowlevel_fd(), buf, std::min(sizeof buf, count - got.size()), MSG_DONTWAIT);
    if (n <= 0) break;
    got.append(buf, static_cast<std::size_t>(n));
  }
  return got;
}

bool AuthAgent::sees_end(int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    pollfd ready{m_fd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&ready, 1, left_ms(deadline)) <= 0) return false;
    char buf[4096];
    ssize_t const n = ::recv(m_fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) return true;
  }
}

}  // namespace test
