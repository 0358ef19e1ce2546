#pragma once
// One connection of the local PPP authentication agent to the modem factory's server.
// Records (auth_records.h) are read whole into a 512-byte buffer, each handed to the
// factory; the session word of the last one names the connection for the records the
// slots send back.
//
// Handlers run under a recursion guard: a connection that closes inside one (a bad
// length, a failed write) is handed to the factory, which deletes it, only when the
// outermost handler on it has returned.

#include <cstddef>
#include <cstdint>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/inet.h"
#include "slots/modem/auth_records.h"

class ModemFactory;

class AuthClient {
public:
  static constexpr std::size_t kBufferSize = 512;

  AuthClient(Fd socket, INet4::Addr const& peer, ModemFactory& factory);
  AuthClient(AuthClient const&) = delete;
  AuthClient& operator=(AuthClient const&) = delete;

  // Starts reading; false when the loop could not take the socket.
  bool Activate();
  // Writes the whole record; false, with the connection closed, when it cannot at once.
  bool Send(attr const* record);
  void OnSocketEvent(int fd, short revents);
  void OnDisconnect();
  // When no handler runs on it any more: a closed connection goes to the factory.
  void CheckDisconnect();

  INet4::Addr const& GetAddr() const { return m_peer; }
  std::uint32_t GetSessionId() const { return m_session; }
  // Whether a complete record named the session yet: until then records for no session
  // are this connection's.
  bool HasSession() const { return m_has_session; }

  int mRecursionLevel = 0;

private:
  Event m_event;
  Fd m_socket;
  INet4::Addr m_peer;
  alignas(attr) unsigned char m_buffer[kBufferSize] = {};
  // The window being filled: the length word first, then the rest of the record.
  unsigned char* m_read_pos = m_buffer;
  unsigned char* m_read_end = m_buffer + sizeof(std::uint32_t);
  ModemFactory& m_factory;
  std::uint32_t m_session = 0xFFFFFFFF;
  bool m_has_session = false;
};
