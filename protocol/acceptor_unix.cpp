#include "protocol/acceptor_unix.h"

#include <cerrno>
#include <iostream>
#include <poll.h>

#include "protocol/local_socket.h"

namespace Control {

AcceptorUnix::AcceptorUnix() : AcceptorUnix(std::string()) {}

AcceptorUnix::AcceptorUnix(std::string const& path) : m_path(path) {
  m_socket_event.Bind("AcceptorUnix::OnSocketEvent", &AcceptorUnix::OnSocketEvent, this);
}

AcceptorUnix::~AcceptorUnix() = default;

bool AcceptorUnix::ImplActivate() {
  m_listen = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!m_listen.is_valid()) {
    Errno const error;
    if (verbose()) std::cerr << "can't create socket:" << error << std::endl;
    return false;
  }
  BindSocket();
  return true;
}

void AcceptorUnix::ImplDeactivate() {
  m_bind_timer.reset();
  m_accept_pause.Cancel();
  m_socket_event.Release();
  m_listen.close();
}

void AcceptorUnix::BindSocket() {
  sockaddr_un const address = LocalAddress(m_path);
  RemoveStaleSocket(address);
  if (::bind(m_listen.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&address), sizeof address) != 0) {
    Errno const error;
    if (verbose()) std::cerr << "can't bind to socket: \"" << error << "\"  waiting..." << std::endl;
    m_bind_timer.set(kBindRetryMs, &AcceptorUnix::OnTimeout, this);
    return;
  }
  if (::listen(m_listen.lowlevel_fd(), 1) != 0) {
    Errno const error;
    if (verbose()) std::cerr << "can't listen socket: " << error << std::endl;
    Deactivate();
    return;
  }
  if (!m_listen.NonBlock()) {
    Errno const error;
    if (verbose()) std::cerr << "can't set socket to non block mode: " << error << std::endl;
    Deactivate();
    return;
  }
  m_socket_event.Schedule(m_listen, POLLIN);
}

void AcceptorUnix::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  // While the ended link waits for its deferred end, newcomers wait in the backlog: they
  // are taken on a later pass, once the service is back to Connecting.
  while (GetState() != State::Deactivating) {
    sockaddr_un peer{};
    socklen_t length = sizeof peer;
    int const fd = DoAccept(m_listen.lowlevel_fd(), peer, length);
    if (fd < 0) {
      m_accept_pause.OnAcceptFailed(m_socket_event);
      return;
    }
    Take(Fd(fd), PeerPath(peer, length));
  }
}

int AcceptorUnix::DoAccept(int fd, sockaddr_un& peer, socklen_t& length) {
  return ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
}

void AcceptorUnix::Take(Fd socket, std::string const& peer) {
  if (GetState() == State::Connected) {
    if (verbose()) std::cerr << "refuse connection from " << peer << std::endl;
    ImplRefuseConnection();
    return;
  }
  if (!socket.NonBlock()) {
    Errno const error;
    if (verbose()) std::cerr << "can't set socket to non block mode: " << error << std::endl;
    return;
  }
  if (verbose()) std::cout << "new connection from " << peer << std::endl;
  Connected(socket, peer);
  ImplConnected(std::move(socket));
}

}  // namespace Control
