#pragma once
// A small TCP server for monitoring clients: accepts any number of them, reads TPKT frames
// (bodies of at most 512 octets) from each and hands every body to one receiver, and
// sends frames to all clients or, from inside the receiver, back to the sender of the
// frame being handled. A client that breaks the framing, fails or closes is dropped.

#include <cstdint>
#include <list>

#include "foundation/event.h"
#include "protocol/accept_pause.h"

class TPKTTracer {
public:
  class Sink {
  public:
    virtual ~Sink() = default;
    // May call Send (to reply) and close clients.
    virtual void OnFrame(std::uint8_t const* body, unsigned length) = 0;
  };

  static constexpr unsigned kMaxBody = 512;
  // Largest body whose frame length fits the header's 16 bits.
  static constexpr unsigned kMaxSend = 65531;

  TPKTTracer() = default;
  TPKTTracer(TPKTTracer const&) = delete;
  TPKTTracer& operator=(TPKTTracer const&) = delete;
  ~TPKTTracer();

  struct Connection {
    int header = 1;  // 1 while the 4-octet header is expected
    unsigned expected = 4;
    unsigned received = 0;
    Event event;  // owns the client's socket
    std::uint8_t buffer[kMaxBody];
  };
  using Position = std::list<Connection*>::iterator;

  void receiver(Sink* sink) { m_receiver = sink; }
  bool Listen(std::uint16_t port);
  void Send(std::uint8_t const* data, unsigned length);

  // The client whose frame is being handled (end() when none), for a receiver that
  // closes it.
  Position current() const { return m_current; }
  Position end() { return m_clients.end(); }
  Position FindConnection(int fd);
  void CloseConnection(Position position);
  std::size_t clients() const { return m_clients.size(); }

private:
  void OnEvent(int fd, short revents);
  void OnDataEvent(int fd, short revents);
  // Reads what the client has; false when the client was closed meanwhile.
  bool ReadClient(Connection& c);
  // Acts on a completed header or body; false when the client was closed meanwhile.
  bool Complete(Connection& c);
  void SendTo(Position position, void const* header, std::uint8_t const* data, unsigned length);

  Sink* m_receiver = nullptr;
  Event m_listen;
  AcceptPause m_accept_pause;
  std::list<Connection*> m_clients;
  Position m_current = m_clients.end();
};
