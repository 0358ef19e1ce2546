#pragma once
// What the board stand-in received: every request, decoded, in order, so tests can
// assert exact request sequences.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "boardsim/ring.h"

namespace BoardSim {

struct Request {
  std::string device;  // path the open was made on
  std::string name;    // "open", "close", "read", "write", "ioctl <NAME>"
  std::string fields;  // decoded arguments, e.g. data="PING"
  int error = 0;       // errno the caller got; 0 when it succeeded
  unsigned ms = 0;     // Mux::milliseconds() when received

  bool operator==(Request const&) const = default;
};

std::ostream& operator<<(std::ostream& os, Request const& request);

// The most recent requests; older ones are dropped and counted.
class RequestLog {
public:
  explicit RequestLog(std::size_t capacity) : m_ring(capacity) {}

  void add(Request request) { m_ring.add(std::move(request)); }
  // An empty device or name matches every entry.
  std::vector<Request> entries(std::string_view device = {}, std::string_view name = {}) const;
  std::uint64_t dropped() const { return m_ring.dropped(); }
  void clear() { m_ring.clear(); }

private:
  Ring<Request> m_ring;
};

// "EINVAL" for EINVAL; the number when the system has no name for it.
std::string errno_name(int error);
// The other way round: EINVAL for "EINVAL" or "22"; 0 for what names no error.
int errno_value(std::string_view text);

// Bytes as a C string literal, non-printable ones escaped: "PING", "\x01\x00".
std::string c_literal(std::string_view bytes);

// Appends the bytes that hexadecimal `text` spells ("01ff"); false for an odd digit
// count or a character that is no hex digit.
bool hex_bytes(std::string_view text, std::string& bytes);

}  // namespace BoardSim
