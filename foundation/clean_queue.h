#pragma once
// A fixed ring of N values that refuses when full. Every slot handed out is overwritten
// with an empty value at once, so a queued packet is let go as soon as it is taken out.

template <class T, unsigned N>
class CleanQueue {
  static_assert(N > 0);

public:
  CleanQueue() = default;
  CleanQueue(CleanQueue const&) = delete;
  CleanQueue& operator=(CleanQueue const&) = delete;
  ~CleanQueue() {
    for (unsigned i = N; i-- > 0;) m_slots[i] = T();
  }

  bool put(T const& value) {
    if (m_count == N) return false;
    m_slots[m_write] = value;
    m_write = inc_index(m_write);
    ++m_count;
    return true;
  }

  // Adds at the front: the value is the next one taken out.
  bool append(T const& value) {
    if (m_count == N) return false;
    m_read = dec_index(m_read);
    m_slots[m_read] = value;
    ++m_count;
    return true;
  }

  bool get(T* target) { return get(*target); }
  bool get(T& target) {
    if (m_count == 0) return false;
    target = m_slots[m_read];
    m_slots[m_read] = T();
    --m_count;
    m_read = inc_index(m_read);
    return true;
  }

  bool get_last(T* target) {
    if (m_count == 0) return false;
    m_write = dec_index(m_write);
    *target = m_slots[m_write];
    m_slots[m_write] = T();
    --m_count;
    return true;
  }

  bool preview(T* target) const {
    if (m_count == 0) return false;
    if (target) *target = m_slots[m_read];
    return true;
  }

  unsigned count() const { return m_count; }
  unsigned size() const { return N; }
  bool empty() const { return m_count == 0; }

  // Forgets the entries without touching the slots: values stay held until overwritten.
  void clear() { m_read = m_write = m_count = 0; }

  unsigned inc_index(unsigned index) const { return index + 1 == N ? 0 : index + 1; }
  unsigned dec_index(unsigned index) const { return index == 0 ? N - 1 : index - 1; }

private:
  T m_slots[N];
  unsigned m_read = 0;
  unsigned m_write = 0;
  unsigned m_count = 0;
};
