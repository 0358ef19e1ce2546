#pragma once
// A bounded record of the most recent entries: the oldest is dropped and counted once
// the capacity is reached, so a long run cannot grow the stand-in's memory.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

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
    if (m_entries.size() == m_capacity) {
      m_entries.pop_front();
      ++m_dropped;
    }
    m_entries.push_back(std::move(entry));
  }

  std::deque<T> const& entries() const { return m_entries; }
  std::uint64_t dropped() const { return m_dropped; }
  std::size_t capacity() const { return m_capacity; }

  void clear() {
    m_entries.clear();
    m_dropped = 0;
  }

private:
  std::deque<T> m_entries;
  std::size_t m_capacity;
  std::uint64_t m_dropped = 0;
};

}  // namespace BoardSim
