#pragma once
// A bounded record of the most recent entries: the oldest is dropped and counted once
// the capacity is reached, so a long run cannot grow the stand-in's memory. Slots are
// reused in a circle: once full, adding allocates nothing.

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace BoardSim {

template <class T>
class Ring {
public:
  explicit Ring(std::size_t capacity) : m_capacity(capacity) {}

  void add(T entry) {
    if (m_capacity == 0) {
      ++m_dropped;
      return;
    }
    if (m_slots.size() < m_capacity) {
      m_slots.push_back(std::move(entry));
      return;
    }
    m_slots[m_oldest] = std::move(entry);
    m_oldest = (m_oldest + 1) % m_capacity;
    ++m_dropped;
  }

  // Calls f with each entry, oldest first.
  template <class F>
  void each(F&& f) const {
    for (std::size_t i = 0; i < m_slots.size(); ++i) f(m_slots[(m_oldest + i) % m_slots.size()]);
  }
  std::vector<T> entries() const {
    std::vector<T> out;
    out.reserve(m_slots.size());
    each([&](T const& entry) { out.push_back(entry); });
    return out;
  }
  std::size_t size() const { return m_slots.size(); }
  std::uint64_t dropped() const { return m_dropped; }
  std::size_t capacity() const { return m_capacity; }

  void clear() {
    m_slots.clear();
    m_oldest = 0;
    m_dropped = 0;
  }

private:
  std::vector<T> m_slots;
  std::size_t m_oldest = 0;  // index of the oldest entry once the ring is full
  std::size_t m_capacity;
  std::uint64_t m_dropped = 0;
};

}  // namespace BoardSim
