#pragma once
// A TCP host on loopback for the daemon's outgoing streams (voice players and recorders):
// it listens, accepts within a time, and reads and writes its connections with time
// limits, so that a test waits for what the daemon does without ever hanging on it.

#include <cstddef>
#include <string>

#include "foundation/fd.h"

namespace test {

class TcpHost {
public:
  // Listens on address:port (port 0: one the kernel picks) with SO_REUSEADDR; a failure
  // shows as port() -1.
  explicit TcpHost(int backlog = 8, std::string const& address = "127.0.0.1", int port = 0);
  int port() const { return m_port; }
  // "127.0.0.1:<port>", as the daemon names the host.
  std::string address() const;
  // The next connection within wait_ms, or an empty Fd.
  Fd accept(int wait_ms = 5000);
  // Whether a connection waits to be accepted within wait_ms.
  bool pending(int wait_ms);

private:
  Fd m_socket;
  int m_port = -1;
};

// A connection made to 127.0.0.1:port and left to the kernel (never accepted by anyone
// reading here): an empty Fd when it did not connect.
Fd connect_loopback(int port);
// Up to `count` bytes: fewer when the peer closes or wait_ms ends first.
std::string read_bytes(Fd& connection, std::size_t count, int wait_ms = 5000);
// Whether the peer's end of the stream arrives within wait_ms (what comes before is dropped).
bool reads_end(Fd& connection, int wait_ms = 5000);
bool send_all(Fd& connection, std::string const& bytes);
// Closes with a reset instead of the normal close (SO_LINGER 0).
void reset(Fd& connection);

}  // namespace test
