#pragma once
// The local PPP authentication agent as the modem factory meets it: a TCP client of
// 127.0.0.1:52000 exchanging records of 32-bit words in the host's byte order (the
// length of the whole record first, then its type and session).

#include <cstdint>
#include <string>
#include <vector>

#include "foundation/fd.h"

namespace test {

inline constexpr int kAuthPort = 52000;

// The bytes of the words, as given (the length word too).
std::string auth_words(std::vector<std::uint32_t> const& words);
// An authentication request (type 1, 140 bytes): user and password each in a 64-byte
// field, ended by a zero byte when shorter.
std::string auth_request(std::uint32_t session, std::string const& user, std::string const& password);
// An accounting record (type 4, 64 bytes): the words after the header, 13 of them.
std::string auth_accounting(std::uint32_t session, std::vector<std::uint32_t> const& words);

class AuthAgent {
public:
  // "" once connected (no delay set, so each write leaves at once), else why not. A
  // receive buffer given is set before connecting, so the window starts small.
  std::string connect(int port = kAuthPort, int receive_buffer = 0);
  bool connected() const { return m_fd.is_valid(); }
  int fd() const { return m_fd.lowlevel_fd(); }
  // The agent's own port, as the gateway names the connection.
  int port() const;
  // Writes all of it; false when the connection failed.
  bool send(std::string const& bytes);
  // Waits (real time) until the gateway's kernel has taken every byte sent.
  bool delivered(int wait_ms = 2000);
  // Up to `count` bytes, whatever came within wait_ms of real time.
  std::string read(std::size_t count, int wait_ms = 2000);
  // Whether the gateway closed the connection within wait_ms (what came first is read
  // and dropped).
  bool sees_end(int wait_ms = 2000);
  void close() { m_fd.close(); }

private:
  Fd m_fd;
};

}  // namespace test
