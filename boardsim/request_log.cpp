#include "boardsim/request_log.h"

#include <cstdio>
#include <cstring>

namespace BoardSim {

std::ostream& operator<<(std::ostream& os, Request const& request) {
  os << request.ms << ' ' << request.device << ' ' << request.name;
  if (!request.fields.empty()) os << ' ' << request.fields;
  if (request.error) os << " -> " << errno_name(request.error);
  return os;
}

void RequestLog::add(Request request) {
  if (m_capacity == 0) {
    ++m_dropped;
    return;
  }
  if (m_entries.size() == m_capacity) {
    m_entries.pop_front();
    ++m_dropped;
  }
  m_entries.push_back(std::move(request));
}

std::vector<Request> RequestLog::entries(std::string_view device, std::string_view name) const {
  std::vector<Request> found;
  for (Request const& request : m_entries) {
    if ((device.empty() || request.device == device) && (name.empty() || request.name == name)) {
      found.push_back(request);
    }
  }
  return found;
}

void RequestLog::clear() {
  m_entries.clear();
  m_dropped = 0;
}

std::string errno_name(int error) {
  char const* name = ::strerrorname_np(error);
  return name ? name : std::to_string(error);
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

}  // namespace BoardSim
