#pragma once
// A circular, self-linked list node that serves both as list head and as member of the
// listed objects; the enclosing object is found back from the member's offset.

#include <cstddef>
#include <cstring>

namespace Containers {

class CyclicList {
public:
  template <class Ref, class Ptr>
  class TIterator {
  public:
    TIterator() = default;
    explicit TIterator(Ptr node) : m_node(node) {}
    TIterator& operator++() {
      m_node = m_node->m_next;
      return *this;
    }
    Ref operator*() const { return *m_node; }
    bool operator==(TIterator const& other) const { return m_node == other.m_node; }
    bool operator!=(TIterator const& other) const { return m_node != other.m_node; }

  private:
    Ptr m_node = nullptr;
  };
  using iterator = TIterator<CyclicList&, CyclicList*>;

  CyclicList() : m_next(this), m_prev(this) {}
  CyclicList(CyclicList const&) = delete;
  CyclicList& operator=(CyclicList const&) = delete;
  ~CyclicList() { unlink(); }

  // Moves the node from wherever it is to the tail of this list.
  void AddToTail(CyclicList* node) {
    node->unlink();
    node->m_next = this;
    node->m_prev = m_prev;
    m_prev->m_next = node;
    m_prev = node;
  }

  iterator begin() { return iterator(m_next); }
  iterator end() { return iterator(this); }
  bool empty() const { return m_next == this; }

private:
  void unlink() {
    m_next->m_prev = m_prev;
    m_prev->m_next = m_next;
    m_next = m_prev = this;
  }

  CyclicList* m_next;
  CyclicList* m_prev;
};

// The object of type T that holds `node` as its member `member`. A data-member pointer is
// the member's byte offset on this ABI (Itanium); reading it avoids forming a member
// access on a non-object, which the sanitizers rightly reject for polymorphic T.
template <class T>
T* offset(CyclicList& node, CyclicList T::*member) {
  static_assert(sizeof(member) == sizeof(std::ptrdiff_t));
  std::ptrdiff_t delta;
  std::memcpy(&delta, &member, sizeof delta);
  return reinterpret_cast<T*>(reinterpret_cast<char*>(&node) - delta);
}

}  // namespace Containers
