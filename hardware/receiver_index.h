#pragma once
// A service's receivers by timeslot, for its event handler. Each record names a
// timeslot, and walking every receiver in construction order to find it would cost each
// record a pass over all the slots. A receiver's timeslot is its slot's channel, fixed
// for the receiver's life, so the index is built again only after a receiver came or
// went (the receivers count that in `changes`).

#include <algorithm>
#include <cstdint>
#include <vector>

#include "foundation/cyclic_list.h"

namespace Hardware {

template <class Receiver>
class ReceiverIndex {
public:
  struct Entry {
    std::uint32_t ts;
    Receiver* receiver;
  };
  struct Range {
    Entry const* first;
    Entry const* last;
    Entry const* begin() const { return first; }
    Entry const* end() const { return last; }
    bool empty() const { return first == last; }
  };

  ReceiverIndex(Containers::CyclicList& list, Containers::CyclicList Receiver::*link,
                unsigned (Receiver::*timeslot)() const, unsigned const& changes)
      : m_list(list), m_link(link), m_timeslot(timeslot), m_changes(changes), m_built(changes - 1) {}

  // The receivers on `ts`, in construction order.
  Range on(std::uint32_t ts) {
    if (m_built != m_changes) rebuild();
    auto const [first, last] = std::equal_range(m_entries.begin(), m_entries.end(), Entry{ts, nullptr}, before);
    return {m_entries.data() + (first - m_entries.begin()), m_entries.data() + (last - m_entries.begin())};
  }

private:
  static bool before(Entry const& a, Entry const& b) { return a.ts < b.ts; }

  void rebuild() {
    m_entries.clear();
    for (Containers::CyclicList& node : m_list) {
      Receiver* const receiver = Containers::offset(node, m_link);
      m_entries.push_back({(receiver->*m_timeslot)(), receiver});
    }
    std::stable_sort(m_entries.begin(), m_entries.end(), before);
    m_built = m_changes;
  }

  Containers::CyclicList& m_list;
  Containers::CyclicList Receiver::*m_link;
  unsigned (Receiver::*m_timeslot)() const;
  unsigned const& m_changes;
  unsigned m_built;
  std::vector<Entry> m_entries;  // by timeslot, construction order within one
};

}  // namespace Hardware
