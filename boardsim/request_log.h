#pragma once
// What the board stand-in received: every request, decoded, in order, so tests can
// assert exact request sequences.

#include <cstddef>
#include <cstdint>
#include <functional>
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

// A request as the stand-in received it. Its text is made when the log is read, from
// what is kept here (a record's bytes among them), so that receiving a request formats
// nothing: the switch refresh alone sends hundreds a loop pass.
struct Received {
  // Records up to this size are kept as bytes; a longer one is decoded at once.
  static constexpr std::size_t kKept = 64;
  enum class Kind : std::uint8_t { text, open, close, read, write, ioctl, ioctl_value };

  Kind kind = Kind::text;
  bool has_result = false;
  std::uint8_t kept = 0;        // bytes in `in` and `out` (a write's: its first bytes)
  int error = 0;
  unsigned ms = 0;
  void const* model = nullptr;  // the device's model, for its path and decoders
  unsigned long code = 0;       // the ioctl's code; the open's flags; a read's or write's length
  unsigned long value = 0;      // ioctl_value's value; what a read got, plus 1 (0: nothing)
  long result = 0;
  unsigned char in[kKept];      // the record as the daemon passed it
  unsigned char out[kKept];     // the record as the daemon got it back
  Request text;                 // Kind::text: the whole entry; else fields decoded at once
};

// The most recent requests; older ones are dropped and counted.
class RequestLog {
public:
  // Makes the text of an entry that was not added as text.
  using Describe = std::function<Request(Received const&)>;
  explicit RequestLog(std::size_t capacity, Describe describe = {})
      : m_ring(capacity), m_describe(std::move(describe)) {}

  void add(Request request) {
    Received entry;
    entry.text = std::move(request);
    m_ring.add(std::move(entry));
  }
  void add(Received&& received) { m_ring.add(std::move(received)); }
  // An empty device or name matches every entry.
  std::vector<Request> entries(std::string_view device = {}, std::string_view name = {}) const;
  std::uint64_t dropped() const { return m_ring.dropped(); }
  void clear() { m_ring.clear(); }

private:
  Ring<Received> m_ring;
  Describe m_describe;
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
