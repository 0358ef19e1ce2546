#include "foundation/async.h"

#include <cerrno>
#include <sys/socket.h>

#include "foundation/board_io.h"

namespace ASync {

namespace {
constexpr short kFailureEvents = POLLERR | POLLHUP | POLLNVAL;
}  // namespace

Connect::~Connect() { m_handler.reset(); }

void Connect::Start(std::string const& address, unsigned timeout_ms) {
  m_state = kConnecting;
  // A rejected text would leave 0.0.0.0, which connects to this host: never try it. Nor
  // a text cut short by a NUL byte: what the parser sees is not what was asked for.
  INet4::Addr peer;
  if (address.find('\0') != std::string::npos || !peer.Assign(address, nullptr)) return Complete(Status::Failed);

  m_socket = Fd(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!m_socket || !m_socket.NonBlock()) return Complete(Status::Failed);

  if (connect_socket(m_socket.lowlevel_fd(), peer) == 0) return Complete(Status::Connected);
  if (errno != EINPROGRESS) return Complete(Status::Failed);

  m_event.Schedule(m_socket, POLLOUT);
  m_event.Bind("Connect::OnSocketEvent", &Connect::OnSocketEvent, this);
  m_timer.set(timeout_ms, &Connect::OnTimeOut, this);
}

int Connect::connect_socket(int fd, INet4::Addr const& address) {
  return ::connect(fd, address, INet4::Addr::size());
}

void Connect::OnSocketEvent(int, short revents) {
  if (revents & kFailureEvents) return Complete(Status::Failed);
  if (!(revents & POLLOUT)) return;
  int error = 0;
  socklen_t length = sizeof error;
  bool const connected =
      ::getsockopt(m_socket.lowlevel_fd(), SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
  Complete(connected ? Status::Connected : Status::Failed);
}

void Connect::OnTimeOut(Timer*) { Complete(Status::Failed); }

// Everything is put back before the handler runs: it may delete this object or start it
// again, and nothing here touches the object after the call.
void Connect::Complete(Status::Type status) {
  if (m_state != kConnecting) return;
  m_state = status;
  Fd kept;
  if (status == Status::Connected) kept = std::move(m_socket);
  close(m_socket);
  m_event.Release();
  m_event.UnBind();
  m_timer.reset();
  if (m_handler) m_handler->Invoke(status, std::move(kept));
}

Copy::~Copy() {
  m_buffer.reset();
  m_handler.reset();
}

void Copy::Start(Fd source, Fd destination) {
  m_state = kCopying;
  m_src = std::move(source);
  m_dst = std::move(destination);
  m_src_event.Release();
  m_dst_event.Release();
  m_src_event.Bind("Copy::OnSrcEvent", &Copy::OnSrcEvent, this);
  m_dst_event.Bind("Copy::OnDstEvent", &Copy::OnDstEvent, this);
  if (!m_buffer) {
    m_bufsize = 1024;
    m_buffer = std::make_unique_for_overwrite<unsigned char[]>(m_bufsize);
  }
  m_src_event.Schedule(m_src, 0);
  m_dst_event.Schedule(m_dst, 0);
  m_written = 0;
  m_step = &Copy::SrcReady;
  Progress();
}

void Copy::Stop() {
  if (m_state == kCopying) GoFlush();
}

void Copy::set_events(EventsParams const& params) {
  m_params = params;
  Complete(Status::Reconfigured);
}

void Copy::set_bufsize(unsigned n) {
  if (n != 0) {
    m_bufsize = n;
    m_buffer = std::make_unique_for_overwrite<unsigned char[]>(n);
  }
  Complete(Status::Reconfigured);
}

// A step that completed the copy returns false: the object may be gone by then.
void Copy::Progress() {
  while ((this->*m_step)()) {
  }
}

bool Copy::SrcReady() {
  ssize_t const n = Board::io().read(m_src.lowlevel_fd(), m_buffer.get(), m_bufsize);
  if (n > 0) {
    m_pending_begin = 0;
    m_pending_end = static_cast<unsigned>(n);
    Await(0, m_params.write_mask);
    m_step = &Copy::DstReady;
    return true;
  }
  if (n == 0) return GoFlush();
  if (errno == EAGAIN) {
    Await(m_params.read_mask, 0);
    return false;
  }
  // What was copied before the failure is kept, as if the source had ended there.
  if (m_written > 0)
    GoFlush();
  else
    Complete(Status::Failed);
  return false;
}

bool Copy::DstReady() {
  ssize_t const n =
      Board::io().write(m_dst.lowlevel_fd(), m_buffer.get() + m_pending_begin, m_pending_end - m_pending_begin);
  if (n > 0) {
    m_written += static_cast<unsigned>(n);
    m_pending_begin += static_cast<unsigned>(n);
    if (m_pending_begin < m_pending_end) return true;
    if (m_state == kDraining) return GoFlushDst();
    Await(m_params.read_mask, 0);
    m_step = &Copy::SrcReady;
    return true;
  }
  if (n < 0 && errno == EAGAIN) {
    Await(0, m_params.write_mask);
    return false;
  }
  Complete(Status::Failed);
  return false;
}

bool Copy::GoFlush() {
  m_src_event.Release();
  close(m_src);
  if (m_step == &Copy::DstReady) {
    m_state = kDraining;
    return true;
  }
  return GoFlushDst();
}

bool Copy::GoFlushDst() {
  if (m_params.flush_mask != 0) {
    m_dst_event.SetEvents(static_cast<int>(m_params.flush_mask));
    m_step = &Copy::NotReady;
    m_state = kFlushing;
    return true;
  }
  Complete(Status::Completed);
  return false;
}

void Copy::Await(std::uint32_t source_mask, std::uint32_t destination_mask) {
  m_src_event.SetEvents(static_cast<int>(source_mask));
  m_dst_event.SetEvents(static_cast<int>(destination_mask));
}

void Copy::OnSrcEvent(int, short revents) {
  unsigned const events = static_cast<unsigned short>(revents);
  if (events & m_params.read_mask) return Progress();
  // Poll reports these whatever the mask: stop polling and let the next read tell the end
  // from a failure.
  if (events & kFailureEvents) {
    m_src_event.Release();
    Progress();
  }
}

void Copy::OnDstEvent(int, short revents) {
  unsigned const events = static_cast<unsigned short>(revents);
  if (events & kFailureEvents) return Complete(Status::Failed);
  switch (m_state) {
    case kCopying:
    case kDraining:
      if (events & m_params.write_mask) Progress();
      break;
    case kFlushing:
      if (events & m_params.flush_mask) Complete(Status::Completed);
      break;
  }
}

// As for Connect: the handler may delete this object or start a new copy.
void Copy::Complete(Status::Type status) {
  if (m_state != kCopying && m_state != kDraining && m_state != kFlushing) return;
  m_src_event.UnBind();
  m_dst_event.UnBind();
  m_state = status;
  m_src_event.Release();
  m_dst_event.Release();
  close(m_src);
  close(m_dst);
  m_step = &Copy::NotReady;
  if (m_handler) m_handler->Invoke(status);
}

}  // namespace ASync
