#include "protocol/connector_unix.h"

#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include "protocol/local_socket.h"

namespace Control {

ConnectorUnix::ConnectorUnix() : ConnectorUnix(std::string(), std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& path) : ConnectorUnix(path, std::string()) {}

ConnectorUnix::ConnectorUnix(std::string const& path, std::string const& localPath)
    : m_path(path), m_local_path(localPath) {
  m_socket_event.Bind("ConnectorUnix::OnSocketEvent", &ConnectorUnix::OnSocketEvent, this);
}

ConnectorUnix::~ConnectorUnix() = default;

bool ConnectorUnix::ImplActivate() {
  m_retry.Restart();
  TryConnect();
  return true;
}

void ConnectorUnix::ImplDeactivate() {
  Release();
  m_connect.close();
  m_retry.Cancel();
  m_socket_event.Release();
}

void ConnectorUnix::ImplOnDisconnect() { m_retry.AfterDisconnect(&ConnectorUnix::OnTimeout, this); }

void ConnectorUnix::Retry(unsigned long_delay) { m_retry.AfterFailure(long_delay, &ConnectorUnix::OnTimeout, this); }

void ConnectorUnix::TryConnect() {
  m_connect = Fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!m_connect.is_valid()) {
    Errno const error;
    std::cerr << "can't create domain socket:" << error << std::endl;
    Deactivate();
    return;
  }
  if (!m_connect.NonBlock()) {
    Errno const error;
    std::cerr << "can't set domain socket to non block mode: " << error << std::endl;
    Deactivate();
    return;
  }
  if (!m_local_path.empty()) {
    sockaddr_un const local = LocalAddress(m_local_path);
    RemoveStaleSocket(local);
    if (::bind(m_connect.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
      Errno const error;
      std::cerr << "can't bind to domain socket '" << m_local_path << "': \"" << error << std::endl;
    }
  }
  sockaddr_un const peer = LocalAddress(m_path);
  if (::connect(m_connect.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&peer), sizeof peer) != 0) {
    Errno const error;
    std::cerr << "can't connect to " << m_path << " : " << error << std::endl;
    Retry(kConnectFailedMs);
    return;
  }
  std::clog << "connected to " << m_path << std::endl;
  m_socket_event.Schedule(m_connect, POLLOUT);
  Connected(m_connect, m_path);
  m_connect.close();
}

void ConnectorUnix::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << m_path << std::endl;
    m_socket_event.Release();
    Retry(kPollErrorMs);
    return;
  }
  if (revents & POLLOUT) m_socket_event.Release();
}

}  // namespace Control
