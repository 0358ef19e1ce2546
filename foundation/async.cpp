#include "foundation/async.h"

#include <cerrno>
#include <sys/socket.h>

namespace ASync {

namespace {
constexpr short kFailureEvents = POLLERR | POLLHUP | POLLNVAL;
}  // namespace

Connect::~Connect() { m_handler.reset(); }

void Connect::Start(std::string const& address, unsigned timeout_ms) {
  m_state = kConnecting;
  // A rejected text would leave 0.0.0.0, which connects to this host: never try it.
  INet4::Addr peer;
  if (!peer.Assign(address, nullptr)) return Complete(Status::Failed);

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

}  // namespace ASync
