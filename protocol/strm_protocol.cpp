#include "protocol/strm_protocol.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <new>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "foundation/clock.h"
#include "foundation/ext.h"
#include "foundation/multiplexer.h"

bool strm_protocol_debug = false;

namespace {
std::string errno_text(char const* prefix) { return std::string(prefix) + std::strerror(errno); }
}  // namespace

StrmProtocol::StrmProtocol() { m_event.Bind("StrmProtocol::on_event", &StrmProtocol::on_event, this); }

StrmProtocol::StrmProtocol(Fd fd) : StrmProtocol() { attach(std::move(fd)); }

StrmProtocol::~StrmProtocol() {
  if (strm_protocol_debug)
    std::clog << "Enter StrmProtocol::~StrmProtocol()" << " this=" << std::hex << static_cast<void const*>(this)
              << std::dec << std::endl;
  release();
}

void StrmProtocol::PutHeader(std::ostream& os) const { os << "SockStream[" << m_service_name << "]: "; }

void StrmProtocol::attach(Fd fd) {
  release();
  m_socket = std::move(fd);
  // A fresh socket has nothing queued: a positive TIOCOUTQ means the kernel reports the
  // free space instead of the queued bytes.
  m_outq_is_free = outq_space() > 0;
}

void StrmProtocol::release() {
  if (!m_socket.is_valid()) return;
  m_event.Release();
  close(m_socket);
}

int StrmProtocol::getsockopt_int(int option) const {
  int value = 0;
  socklen_t length = sizeof value;
  if (::getsockopt(m_socket.lowlevel_fd(), SOL_SOCKET, option, &value, &length) != 0) return -1;
  return value;
}

int StrmProtocol::sendbuf_space() const { return getsockopt_int(SO_SNDBUF); }
int StrmProtocol::recvbuf_space() const { return getsockopt_int(SO_RCVBUF); }
int StrmProtocol::inq_space() const {
  int value = 0;
  return ::ioctl(m_socket.lowlevel_fd(), FIONREAD, &value) == 0 ? value : -1;
}

int StrmProtocol::outq_space() const {
  int value = 0;
  return ::ioctl(m_socket.lowlevel_fd(), TIOCOUTQ, &value) == 0 ? value : -1;
}

int StrmProtocol::free_space() const { return m_outq_is_free ? outq_space() : sendbuf_space() - outq_space(); }

void StrmProtocol::put_figures(std::ostream& os) const {
  os << std::dec << ", sendbuf=" << sendbuf_space() << ", recvbuf=" << recvbuf_space() << ", free=" << free_space()
     << ", inq=" << inq_space() << ", outq=" << outq_space();
}

void StrmProtocol::local_activate() {
  if (m_socket.is_valid()) m_event.Schedule(m_socket, POLLIN);
  // Without its own duplicate the event would never be polled: fail the link instead.
  if (!m_event.IsActive()) {
    on_deactivate(ProtocolStatus(new Protocol_status_error(this, "fd not attached")));
    return;
  }
  on_activate();
}

void StrmProtocol::local_deactivate() {
  release();
  on_deactivate(ProtocolStatus(new Protocol_status_success(this, "success")));
}

void StrmProtocol::on_event(int, short revents) {
  if (revents & POLLERR)
    on_error(errno_text("pollerr: "));
  else if (revents & POLLHUP)
    on_error(errno_text("pollhup: "));
  else if (revents & POLLIN)
    do_read();
}

void StrmProtocol::do_read() {
  Packet packet;
  try {
    packet.reserve_head(0);
  } catch (std::bad_alloc const&) {
    std::cerr << ext::header(this) << "read error: no packet buffer" << std::endl;
    on_error("read error: no packet buffer");
    return;
  }
  m_read_measure.begin();
  ssize_t const n = ::recv(m_socket.lowlevel_fd(), packet.tail(), packet.tailroom(), MSG_DONTWAIT | MSG_NOSIGNAL);
  m_read_measure.end();
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return;
    on_error(errno_text("read error: "));
    return;
  }
  if (n == 0) {
    on_error(errno_text("read error: "));
    return;
  }
  if (m_trace) {
    std::clog << ext::header(this) << "receive success";
    put_figures(std::clog);
    std::clog << std::endl;
  }
  packet.put(static_cast<unsigned>(n));
  on_message(packet);
}

void StrmProtocol::message(Packet& p) {
  std::uint8_t const* start = p.length() ? p.cdata() : nullptr;
  std::uint8_t const* const end = start + p.length();
  m_write_measure.begin();
  unsigned const began = Mux::milliseconds();
  while (start < end) {
    int const n = write(m_socket, start, static_cast<unsigned>(end - start));
    if (n > 0) {
      start += n;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
      m_write_measure.end();
      Errno const error;
      std::cerr << ext::header(this) << "write error";
      put_figures(std::cerr);
      std::cerr << ", error=" << error << std::endl;
      ++m_overflow;
      errno = error.value();
      on_error(errno_text("write error: "));
      return;
    }
    // Full socket (or a write that took nothing): wait for room within the budget.
    int const left = kWriteBudgetMs - static_cast<int>(Mux::milliseconds() - began);
    int ready = 0;
    if (left > 0) {
      multiplexer.resetWD();
      pollfd record{m_socket.lowlevel_fd(), POLLOUT, 0};
      ready = multiplexer.poll(&record, 1, left);
      if (ready < 0 && errno == EINTR) ready = 1;
      multiplexer.resetWD();
    }
    if (ready == 1) continue;
    m_write_measure.end();
    std::cerr << ext::header(this) << "write timeout";
    put_figures(std::cerr);
    std::cerr << std::endl;
    ++m_overflow;
    on_error("write timeout");
    return;
  }
  if (m_trace) {
    std::clog << ext::header(this) << "write success";
    put_figures(std::clog);
    std::clog << std::endl;
  }
  m_write_measure.end();
}

void StrmProtocol::on_error(std::string const& text) {
  release();
  on_deactivate(ProtocolStatus(new Protocol_status_error(this, text)));
}
