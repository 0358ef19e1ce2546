#include "slots/modem/auth_client.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "foundation/ext.h"
#include "foundation/recursive_guard.h"
#include "slots/modem/modem_factory.h"

namespace {

using Guard = std::RecursiveGuard<AuthClient, &AuthClient::CheckDisconnect, &AuthClient::mRecursionLevel>;

constexpr std::uint32_t kShortest = 4;
// Complete records handled per event: an agent that writes faster than they are read
// must not hold the loop; poll reports the rest on the next pass.
constexpr unsigned kRecordsPerEvent = 64;

}  // namespace

AuthClient::AuthClient(Fd socket, INet4::Addr const& peer, ModemFactory& factory)
    : m_socket(std::move(socket)), m_peer(peer), m_factory(factory) {
  m_event.Bind("AuthClient::OnSocketEvent", &AuthClient::OnSocketEvent, this);
}

bool AuthClient::Activate() {
  m_event.Schedule(m_socket, POLLIN);
  return m_event.IsActive();
}

void AuthClient::OnDisconnect() {
  m_socket.close();
  m_event.Release();
}

void AuthClient::CheckDisconnect() {
  if (!m_socket.is_valid()) m_factory.OnAuthSocketDisconnect(this);  // deletes this client
}

void AuthClient::OnSocketEvent(int, short revents) {
  Guard const guard(this);
  if (revents & (POLLERR | POLLHUP)) return OnDisconnect();
  if (!(revents & POLLIN)) return;
  for (unsigned records = 0; m_socket.is_valid() && records < kRecordsPerEvent;) {
    ssize_t const got = ::read(m_socket.lowlevel_fd(), m_read_pos, static_cast<std::size_t>(m_read_end - m_read_pos));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) return OnDisconnect();
    m_read_pos += got;
    if (m_read_pos < m_read_end) continue;
    std::uint32_t length;
    std::memcpy(&length, m_buffer, sizeof length);
    if (length > kBufferSize || length < kShortest) return OnDisconnect();
    auto const held = static_cast<std::size_t>(m_read_pos - m_buffer);
    if (held < length) {
      m_read_end = m_buffer + length;
      continue;
    }
    m_read_pos = m_buffer;
    m_read_end = m_buffer + sizeof length;
    ++records;
    // Its type and session would be what an earlier record left in the buffer.
    if (length < sizeof(attr)) {
      std::cerr << ext::header(&m_factory) << "auth record too short: " << std::dec << length << std::endl;
      continue;
    }
    std::memcpy(&m_session, m_buffer + offsetof(attr, session), sizeof m_session);
    m_has_session = true;
    m_factory.OnAuth(reinterpret_cast<attr const*>(m_buffer));
  }
}

bool AuthClient::Send(attr const* record) {
  Guard const guard(this);
  if (!m_socket.is_valid()) return false;
  auto const* const bytes = reinterpret_cast<char const*>(record);
  std::size_t const length = record->length;
  for (std::size_t done = 0; done < length;) {
    // A full socket buffer counts as a failure: the agent is not waited for.
    ssize_t const sent = ::send(m_socket.lowlevel_fd(), bytes + done, length - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 1) {
      OnDisconnect();
      return false;
    }
    done += static_cast<std::size_t>(sent);
  }
  return true;
}
