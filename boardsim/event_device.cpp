#include "boardsim/event_device.h"

#include <algorithm>

namespace BoardSim {

int EventDevice::open(Open& open, int) {
  m_opens.push_back(&open);
  return 0;
}

void EventDevice::close(Open& open) { m_opens.erase(std::remove(m_opens.begin(), m_opens.end(), &open), m_opens.end()); }

std::string EventDevice::deliver_event(void const* record, std::size_t len) {
  if (m_opens.empty()) return "no open of " + path();
  if (!m_opens.front()->deliver(record, len)) return "not delivered to " + path() + ": its queue is full";
  return {};
}

std::optional<std::uint32_t> EventDevice::word(std::string_view text) {
  if (!text.starts_with('-')) return number(text);
  auto const magnitude = number(text.substr(1), 0x80000000u);
  if (!magnitude) return std::nullopt;
  return static_cast<std::uint32_t>(0u - *magnitude);
}

}  // namespace BoardSim
