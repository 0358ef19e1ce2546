#include "protocol/acceptor_net.h"

#include <cerrno>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

namespace Control {

AcceptorNet::AcceptorNet(int port, bool verbose) : ServiceNet(verbose), m_port(static_cast<std::uint16_t>(port)) {
  m_socket_event.Bind("AcceptorNet::OnSocketEvent", &AcceptorNet::OnSocketEvent, this);
}

AcceptorNet::~AcceptorNet() = default;

bool AcceptorNet::ImplActivate() {
  BindSocket();
  return true;
}

void AcceptorNet::ImplDeactivate() {
  m_bind_timer.reset();
  m_accept_pause.Cancel();
  m_socket_event.Release();
  m_listen.close();
}

void AcceptorNet::RetryBind() { m_bind_timer.set(kBindRetryMs, &AcceptorNet::OnTimeout, this); }

// Every failure to set up the listening socket is retried through the bind timer, from
// whatever step failed: a lost listener would leave the controller locked out for good.
void AcceptorNet::BindSocket() {
  if (!m_listen.is_valid()) {
    Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
    if (!socket.is_valid()) {
      Errno const error;
      if (verbose()) std::cerr << "can't create socket:" << error << std::endl;
      RetryBind();
      return;
    }
    int const on = 1;
    ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    m_listen = std::move(socket);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(m_port);
  address.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(m_listen.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Errno const error;
    if (verbose()) std::cerr << "can't bind to socket: \"" << error << "\"  waiting..." << std::endl;
    RetryBind();
    return;
  }
  if (::listen(m_listen.lowlevel_fd(), 1) != 0) {
    Errno const error;
    if (verbose()) std::cerr << "can't listen socket: " << error << std::endl;
    m_listen.close();
    RetryBind();
    return;
  }
  if (!m_listen.NonBlock()) {
    Errno const error;
    if (verbose()) std::cerr << "can't set socket to non block mode: " << error << std::endl;
    m_listen.close();
    RetryBind();
    return;
  }
  m_socket_event.Schedule(m_listen, POLLIN);
}

void AcceptorNet::OnSocketEvent(int, short revents) {
  if (!(revents & POLLIN)) return;
  // While the ended link waits for its deferred end, newcomers wait in the backlog: they
  // are taken on a later pass, once the service is back to Connecting.
  while (GetState() != State::Deactivating) {
    INet4::Addr peer;
    int const fd = DoAccept(m_listen.lowlevel_fd(), peer);
    if (fd < 0) {
      m_accept_pause.OnAcceptFailed(m_socket_event);
      return;
    }
    Take(Fd(fd), peer);
  }
}

int AcceptorNet::DoAccept(int fd, INet4::Addr& peer) {
  socklen_t length = INet4::Addr::size();
  return ::accept4(fd, peer, &length, SOCK_CLOEXEC);
}

void AcceptorNet::Take(Fd socket, INet4::Addr const& peer) {
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

AcceptorNetCheckConnection::~AcceptorNetCheckConnection() = default;

bool AcceptorNetCheckConnection::ImplActivate() {
  AcceptorNet::ImplActivate();
  CheckConnection();
  return true;
}

void AcceptorNetCheckConnection::ImplDeactivate() {
  m_check_timer.reset();
  AcceptorNet::ImplDeactivate();
}

// The link has ended: let go of our duplicate too, so that the peer sees the close now.
void AcceptorNetCheckConnection::ImplOnDisconnect() {
  m_connection.close();
  AcceptorNet::ImplOnDisconnect();
}

void AcceptorNetCheckConnection::ImplConnected(Fd socket) { m_connection = std::move(socket); }

void AcceptorNetCheckConnection::ImplRefuseConnection() {
  if (m_check_state != CheckConnectionState::Idle) return;
  m_check_state = CheckConnectionState::CheckConnection;
  m_check_countdown = 2;
  SetupKeepAlive(true);
  if (verbose()) std::cerr << "CheckConnectionState CheckConnection" << std::endl;
}

void AcceptorNetCheckConnection::SetupKeepAlive(bool aggressive) {
  int const fd = m_connection.lowlevel_fd();
  int const on = aggressive ? TCPKeepAlive : TCPKeepAliveDefault;
  int const idle = aggressive ? TCPKeepAliveIdle : TCPKeepAliveIdleDefault;
  int const interval = aggressive ? TCPKeepAliveIntvl : TCPKeepAliveIntvlDefault;
  int const count = aggressive ? TCPKeepAliveCnt : TCPKeepAliveCntDefault;
  ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
}

bool AcceptorNetCheckConnection::ReadTcpState(int fd, TcpState& out) {
  // Only the first two bytes of the record are used: the state and the congestion state.
  std::uint8_t info[92] = {};
  socklen_t length = sizeof info;
  if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, info, &length) != 0) return false;
  out.state = info[0];
  out.ca_state = info[1];
  return true;
}

bool AcceptorNetCheckConnection::ReadSocketError(int fd, int& error) {
  socklen_t length = sizeof error;
  return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0;
}

void AcceptorNetCheckConnection::LeaveWatch() {
  m_check_state = CheckConnectionState::Idle;
  SetupKeepAlive(false);
}

void AcceptorNetCheckConnection::CheckConnection() {
  if (GetState() == State::Connected) {
    int const fd = m_connection.lowlevel_fd();
    bool close = false;
    TcpState tcp;
    if (ReadTcpState(fd, tcp)) {
      if (tcp.state != TCP_ESTABLISHED) {
        if (verbose()) std::cerr << "connection from " << GetAddr() << " closed: tcp socket change state." << std::endl;
        close = true;
      }
      if (m_check_state == CheckConnectionState::CheckConnection) {
        if (tcp.ca_state != 0) {
          if (m_check_countdown > 0) --m_check_countdown;
          if (m_check_countdown <= 0) {
            if (verbose())
              std::cerr << "connection from " << GetAddr() << " closed: tcp socket change ca_state." << std::endl;
            close = true;
          }
        } else {
          LeaveWatch();
          if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
        }
      }
    }
    int pending = 0;
    if (!ReadSocketError(fd, pending)) {
      Errno const error;
      if (verbose()) std::cerr << "connection from " << GetAddr() << " closed: " << error << std::endl;
      close = true;
    } else if (pending != 0) {
      if (verbose()) std::cerr << "connection from " << GetAddr() << " closed: " << Errno(pending) << std::endl;
      close = true;
    }
    if (close) {
      LeaveWatch();
      Disconnect();
      if (verbose()) std::cerr << "CheckConnectionState Idle" << std::endl;
    }
  }
  m_check_timer.set(kCheckPeriodMs, &AcceptorNetCheckConnection::OnCheckConnectionTimeout, this);
}

}  // namespace Control
