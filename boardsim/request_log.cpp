#include "boardsim/request_log.h"

#include <cstdio>
#include <cstring>

namespace BoardSim {

namespace {
// The kernel's error numbers stay below this.
constexpr int kErrnoLimit = 4096;

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
}  // namespace

std::ostream& operator<<(std::ostream& os, Request const& request) {
  os << request.ms << ' ' << request.device << ' ' << request.name;
  if (!request.fields.empty()) os << ' ' << request.fields;
  if (request.error) os << " -> " << errno_name(request.error);
  return os;
}

std::vector<Request> RequestLog::entries(std::string_view device, std::string_view name) const {
  std::vector<Request> found;
  m_ring.each([&](Received const& entry) {
    Request request = entry.kind == Received::Kind::text ? entry.text : m_describe(entry);
    if ((device.empty() || request.device == device) && (name.empty() || request.name == name)) {
      found.push_back(std::move(request));
    }
  });
  return found;
}

std::string errno_name(int error) {
  char const* name = ::strerrorname_np(error);
  return name ? name : std::to_string(error);
}

int errno_value(std::string_view text) {
  if (text.empty()) return 0;
  if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    if (text.size() > 4) return 0;
    int const value = std::stoi(std::string(text));
    return value > 0 && value < kErrnoLimit ? value : 0;
  }
  for (int error = 1; error < kErrnoLimit; ++error) {
    char const* name = ::strerrorname_np(error);
    if (name && text == name) return error;
  }
  return 0;
}

std::string c_literal(std::string_view bytes) {
  std::string text = "\"";
  for (char const c : bytes) {
    auto const byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      text += '\\';
      text += c;
    } else if (byte >= 0x20 && byte < 0x7f) {
      text += c;
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02x", byte);
      text += hex;
    }
  }
  return text + '"';
}

bool hex_bytes(std::string_view text, std::string& bytes) {
  int high = -1;
  for (char const c : text) {
    int const digit = hex_digit(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      bytes += static_cast<char>(high << 4 | digit);
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace BoardSim
