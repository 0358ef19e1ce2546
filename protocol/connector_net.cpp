#include "protocol/connector_net.h"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

ConnectorNet::ConnectorNet() {
  m_socket_event.Bind("ConnectorNet::OnSocketEvent", &ConnectorNet::OnSocketEvent, this);
}

ConnectorNet::ConnectorNet(std::string const& host, unsigned short port) : ConnectorNet() {
  m_host = host;
  m_port = port;
}

ConnectorNet::ConnectorNet(std::string const& address) : ConnectorNet() {
  INet4::Addr parsed;
  if (!parsed.Assign(address, nullptr)) {
    // Kept as given: it never parses, so it is never connected to (0.0.0.0 would be
    // this host), and the failure line names what was configured.
    m_host = address;
    m_unusable = true;
    return;
  }
  m_port = parsed.port();
  m_host = parsed.GetStrAddr();
}

ConnectorNet::~ConnectorNet() = default;

bool ConnectorNet::ImplActivate() {
  m_retry.Restart();
  TryConnect();
  return true;
}

void ConnectorNet::ImplDeactivate() {
  Release();
  m_connect.close();
  m_retry.Cancel();
  m_socket_event.Release();
}

void ConnectorNet::ImplOnDisconnect() { m_retry.AfterDisconnect(&ConnectorNet::OnTimeout, this); }

int ConnectorNet::DoConnect(int fd, INet4::Addr const& peer) { return ::connect(fd, peer, INet4::Addr::size()); }

INet4::Addr ConnectorNet::PeerAddress(bool* valid) const {
  INet4::Addr peer;
  peer.port(m_port);
  bool const ok = !m_unusable && peer.Assign(m_host, nullptr);
  if (valid) *valid = ok;
  return peer;
}

std::string ConnectorNet::ConfiguredPeer() const {
  return m_unusable ? m_host : m_host + ':' + std::to_string(m_port);
}

void ConnectorNet::Retry(unsigned long_delay) { m_retry.AfterFailure(long_delay, &ConnectorNet::OnTimeout, this); }

// Failures that used to end the attempts for good (no socket, no non-blocking mode, a
// peer text that is no address) are retried like a failed connect: the peer must come
// back by itself.
void ConnectorNet::TryConnect() {
  m_connect = Fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!m_connect.is_valid()) {
    Errno const error;
    std::cerr << "can't create socket:" << error << std::endl;
    Retry(kConnectFailedMs);
    return;
  }
  if (!m_connect.NonBlock()) {
    Errno const error;
    std::cerr << "can't set socket to non block mode: " << error << std::endl;
    m_connect.close();
    Retry(kConnectFailedMs);
    return;
  }
  bool valid = false;
  INet4::Addr const peer = PeerAddress(&valid);
  if (!valid) {
    std::cerr << "can't connect to " << ConfiguredPeer() << " : " << Errno(EINVAL) << std::endl;
    m_connect.close();
    Retry(kConnectFailedMs);
    return;
  }
  if (DoConnect(m_connect.lowlevel_fd(), peer) == 0) {
    std::clog << "already connected to " << peer << std::endl;
    Established(peer);
    return;
  }
  if (errno == EINPROGRESS) {
    m_socket_event.Schedule(m_connect, POLLOUT);
    return;
  }
  Errno const error;
  std::cerr << "can't connect to " << peer << " : " << error << std::endl;
  Retry(kConnectFailedMs);
}

void ConnectorNet::OnSocketEvent(int, short revents) {
  INet4::Addr const peer = PeerAddress();
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << "fail to connect to " << peer << std::endl;
    m_socket_event.Release();
    Retry(kPollErrorMs);
    return;
  }
  if (!(revents & POLLOUT)) return;
  m_socket_event.Release();
  int pending = 0;
  socklen_t length = sizeof pending;
  if (::getsockopt(m_connect.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
    Errno const error;
    std::cerr << "getsockopt(SOL_SOCKET,SO_ERROR) fail: " << error << std::endl;
    Retry(kSocketErrorMs);
    return;
  }
  if (pending != 0) {
    std::cerr << "fail to connect to " << peer << std::endl;
    Retry(kSocketErrorMs);
    return;
  }
  std::cout << "connected to " << peer << "." << std::endl;
  Established(peer);
}

void ConnectorNet::Established(INet4::Addr const& peer) {
  Connected(m_connect, peer);
  m_connect.close();
}

}  // namespace Control
