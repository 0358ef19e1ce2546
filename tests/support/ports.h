#pragma once
// Loopback ports for tests that run in parallel on one host: a port number handed on
// after its socket closed could be taken by another test before the server binds it.

#include <functional>

#include "foundation/fd.h"

namespace test {

// A loopback port held for the life of the object by a socket bound to 127.0.0.1 with
// SO_REUSEADDR that never listens. Meanwhile the kernel gives the number to no other
// bind of port 0, a connect to it is refused, and a server that also sets SO_REUSEADDR
// (the controller acceptor, socat's reuseaddr, the tests' own listeners) binds and
// listens on it.
class ReservedPort {
public:
  ReservedPort();
  int port() const { return m_port; }

private:
  Fd m_socket;
  int m_port = -1;
};

// For a server that binds without SO_REUSEADDR: calls listen(port) with fresh ports
// until it succeeds (another test can take a number between its pick and the bind), up
// to 20 times. Returns the port it listens on, or -1.
int listen_on_free_port(std::function<bool(int port)> const& listen);

}  // namespace test
