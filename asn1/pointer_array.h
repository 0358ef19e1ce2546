#pragma once
// A growable array of value pointers that keeps its first `Inline` entries inside the
// object: a value with few fields or elements costs no allocation of its own for them.
// It holds pointers only; ownership is its user's.

#include <algorithm>
#include <cstring>
#include <memory>

namespace ASN1 {

class AbstractData;

template <unsigned Inline>
class PointerArray {
public:
  using value_type = AbstractData*;
  using iterator = AbstractData**;
  using const_iterator = AbstractData* const*;

  PointerArray() = default;
  PointerArray(PointerArray const&) = delete;
  PointerArray& operator=(PointerArray const&) = delete;

  unsigned size() const { return m_size; }
  bool empty() const { return m_size == 0; }
  AbstractData** data() { return m_heap ? m_heap.get() : m_inline; }
  AbstractData* const* data() const { return m_heap ? m_heap.get() : m_inline; }
  iterator begin() { return data(); }
  iterator end() { return data() + m_size; }
  const_iterator begin() const { return data(); }
  const_iterator end() const { return data() + m_size; }
  AbstractData*& operator[](unsigned i) { return data()[i]; }
  AbstractData* operator[](unsigned i) const { return data()[i]; }

  void reserve(unsigned capacity) {
    if (capacity <= this->capacity()) return;
    std::unique_ptr<AbstractData*[]> grown(new AbstractData*[capacity]);
    std::copy(begin(), end(), grown.get());
    m_heap = std::move(grown);
    m_capacity = capacity;
  }

  // New entries are left for the caller to set.
  void resize_for_overwrite(unsigned n) {
    if (n > capacity()) reserve(std::max(n, 2 * capacity()));
    m_size = n;
  }

  // New entries are null.
  void resize(unsigned n) {
    if (n > capacity()) reserve(std::max(n, 2 * capacity()));
    if (n > m_size) std::fill(data() + m_size, data() + n, nullptr);
    m_size = n;
  }

  void push_back(AbstractData* p) {
    if (m_size == capacity()) reserve(2 * capacity());
    data()[m_size++] = p;
  }

  iterator insert(iterator at, unsigned count, AbstractData* p) {
    unsigned const offset = static_cast<unsigned>(at - begin());
    if (m_size + count > capacity()) reserve(std::max(m_size + count, 2 * capacity()));
    at = begin() + offset;
    std::move_backward(at, end(), end() + count);
    std::fill(at, at + count, p);
    m_size += count;
    return at;
  }

  iterator erase(iterator first, iterator last) {
    std::move(last, end(), first);
    m_size -= static_cast<unsigned>(last - first);
    return first;
  }

  void clear() { m_size = 0; }

  void swap(PointerArray& other) {
    // Entries kept inline move by value; heap blocks change hands.
    AbstractData* mine[Inline];
    std::copy(m_inline, m_inline + Inline, mine);
    std::copy(other.m_inline, other.m_inline + Inline, m_inline);
    std::copy(mine, mine + Inline, other.m_inline);
    m_heap.swap(other.m_heap);
    std::swap(m_size, other.m_size);
    std::swap(m_capacity, other.m_capacity);
  }

private:
  unsigned capacity() const { return m_heap ? m_capacity : Inline; }

  AbstractData* m_inline[Inline];
  std::unique_ptr<AbstractData*[]> m_heap;
  unsigned m_size = 0;
  unsigned m_capacity = Inline;
};

}  // namespace ASN1
