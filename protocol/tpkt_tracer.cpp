#include "protocol/tpkt_tracer.h"

#include <cerrno>
#include <iostream>
#include <sys/socket.h>
#include <sys/uio.h>

#include "foundation/inet.h"

TPKTTracer::~TPKTTracer() {
  for (Connection* c : m_clients) delete c;
  m_clients.clear();
  m_current = m_clients.end();
}

bool TPKTTracer::Listen(std::uint16_t port) {
  Fd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!socket.is_valid()) return false;
  INet4::Addr address;
  address.port(port);
  if (::bind(socket.lowlevel_fd(), address, INet4::Addr::size()) != 0) return false;
  if (::listen(socket.lowlevel_fd(), 1) != 0) return false;
  if (!socket.NonBlock()) return false;
  m_listen.Bind("TPKTTracer::OnEvent", &TPKTTracer::OnEvent, this);
  m_listen.Schedule(socket, POLLIN);
  return m_listen.IsActive();
}

void TPKTTracer::OnEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    INet4::Addr peer;
    socklen_t length = INet4::Addr::size();
    Fd socket(::accept4(fd, peer, &length, SOCK_CLOEXEC));
    if (!socket.is_valid()) {
      m_accept_pause.OnAcceptFailed(m_listen);
      return;
    }
    std::clog << "ACP connection open from " << peer << std::endl;
    if (!socket.NonBlock()) continue;
    auto* c = new Connection;
    c->event.Bind("TPKTTracer::OnDataEvent", &TPKTTracer::OnDataEvent, this);
    // The event keeps a duplicate; ours is closed as the loop goes on.
    c->event.Schedule(socket, POLLIN);
    m_clients.push_back(c);
  }
}

void TPKTTracer::OnDataEvent(int fd, short revents) {
  m_current = FindConnection(fd);
  if (m_current == m_clients.end()) return;
  if (revents & (POLLERR | POLLHUP)) {
    CloseConnection(m_current);
  } else if (revents & POLLIN) {
    ReadClient(**m_current);
  }
  m_current = m_clients.end();
}

bool TPKTTracer::ReadClient(Connection& c) {
  for (;;) {
    ssize_t const n = ::recv(c.event.lowlevel_fd(), c.buffer + c.received, c.expected - c.received, MSG_NOSIGNAL);
    if (n == 0) {
      CloseConnection(m_current);
      return false;
    }
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      CloseConnection(m_current);
      return false;
    }
    c.received += static_cast<unsigned>(n);
    if (c.received < c.expected) return true;
    if (!Complete(c)) return false;
  }
}

bool TPKTTracer::Complete(Connection& c) {
  if (c.header) {
    unsigned const length = unsigned(c.buffer[2]) << 8 | c.buffer[3];
    if (c.buffer[0] != 3 || c.buffer[1] != 0 || length < 4 || length - 4 > kMaxBody) {
      CloseConnection(m_current);
      return false;
    }
    c.received = 0;
    if (length > 4) {
      c.header = 0;
      c.expected = length - 4;
    }
    return true;
  }
  if (m_receiver) {
    m_receiver->OnFrame(c.buffer, c.expected);
    // The receiver may have closed this client, and with it `c`.
    if (m_current == m_clients.end()) return false;
  }
  c.header = 1;
  c.expected = 4;
  c.received = 0;
  return true;
}

void TPKTTracer::Send(std::uint8_t const* data, unsigned length) {
  if (length > kMaxSend) {
    std::cerr << "TPKTTracer::Send() refuse a message of " << length << " bytes (at most " << kMaxSend
              << " fit a frame)" << std::endl;
    return;
  }
  unsigned const total = length + 4;
  std::uint8_t const header[4] = {3, 0, static_cast<std::uint8_t>(total >> 8), static_cast<std::uint8_t>(total)};
  if (m_current != m_clients.end()) {
    SendTo(m_current, header, data, length);
    return;
  }
  for (Position at = m_clients.begin(); at != m_clients.end();) {
    Position const next = std::next(at);
    SendTo(at, header, data, length);
    at = next;
  }
}

void TPKTTracer::SendTo(Position position, void const* header, std::uint8_t const* data, unsigned length) {
  iovec pieces[2] = {{const_cast<void*>(header), 4}, {const_cast<std::uint8_t*>(data), length}};
  msghdr message{};
  message.msg_iov = pieces;
  message.msg_iovlen = 2;
  ssize_t const n = ::sendmsg((*position)->event.lowlevel_fd(), &message, MSG_NOSIGNAL);
  if (n < 0 ? errno != EINTR : n != ssize_t(length) + 4) CloseConnection(position);
}

TPKTTracer::Position TPKTTracer::FindConnection(int fd) {
  for (Position at = m_clients.begin(); at != m_clients.end(); ++at)
    if ((*at)->event.lowlevel_fd() == fd) return at;
  return m_clients.end();
}

void TPKTTracer::CloseConnection(Position position) {
  if (m_current == position) m_current = m_clients.end();
  delete *position;
  m_clients.erase(position);
}
