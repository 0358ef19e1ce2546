#include "tests/support/ports.h"

#include <netinet/in.h>
#include <sys/socket.h>

namespace test {

namespace {

// Binds `fd` to 127.0.0.1:0 and returns the port the kernel chose, or -1.
int bind_any_port(int fd) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return -1;
  return ntohs(address.sin_port);
}

}  // namespace

ReservedPort::ReservedPort() : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  int const on = 1;
  ::setsockopt(m_socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  m_port = bind_any_port(m_socket.lowlevel_fd());
}

int listen_on_free_port(std::function<bool(int port)> const& listen) {
  for (int attempt = 0; attempt < 20; ++attempt) {
    int port = -1;
    {
      Fd probe(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
      port = bind_any_port(probe.lowlevel_fd());
    }
    if (port > 0 && listen(port)) return port;
  }
  return -1;
}

}  // namespace test
