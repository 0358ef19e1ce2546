#pragma once
// Intrusive doubly linked lists: the links live in the items, so moving an item between
// lists never allocates. A list does not own its items; an item is in at most one list
// of its type at a time and must be removed before it is destroyed.

template <class T>
class F_dual_list;

template <class T>
class F_dual_list_item {
public:
  T* get_next() const { return m_next; }
  T* get_prev() const { return m_prev; }

private:
  friend class F_dual_list<T>;
  T* m_next = nullptr;
  T* m_prev = nullptr;
};

template <class T>
class F_dual_list {
public:
  class iterator {
  public:
    iterator(T* item = nullptr) : m_item(item) {}
    T& operator*() const { return *m_item; }
    T* operator->() const { return m_item; }
    iterator& operator++() {
      m_item = m_item->get_next();
      return *this;
    }
    iterator operator++(int) {
      iterator old = *this;
      m_item = m_item->get_next();
      return old;
    }
    bool operator==(iterator const& other) const { return m_item == other.m_item; }
    bool operator!=(iterator const& other) const { return m_item != other.m_item; }
    bool good() const { return m_item != nullptr; }
    bool operator!() const { return m_item == nullptr; }

  private:
    T* m_item;
  };

  constexpr F_dual_list() = default;
  F_dual_list(T* first, unsigned count) { init(first, count); }
  F_dual_list(F_dual_list const&) = delete;
  F_dual_list& operator=(F_dual_list const&) = delete;

  // Links `count` consecutive items of an array in array order.
  template <class U>
  void init(U* first, unsigned count) {
    for (unsigned i = 0; i < count; ++i) insert_to_tail(&first[i]);
  }

  T* insert_to_tail(T* item) {
    link(item)->m_prev = m_tail;
    link(item)->m_next = nullptr;
    if (m_tail)
      link(m_tail)->m_next = item;
    else
      m_head = item;
    m_tail = item;
    ++m_count;
    return item;
  }
  T* push_back(T* item) { return insert_to_tail(item); }

  T* insert_to_head(T* item) {
    link(item)->m_next = m_head;
    link(item)->m_prev = nullptr;
    if (m_head)
      link(m_head)->m_prev = item;
    else
      m_tail = item;
    m_head = item;
    ++m_count;
    return item;
  }

  T* insert_after(T* after, T* item) {
    T* const next = link(after)->m_next;
    link(item)->m_prev = after;
    link(item)->m_next = next;
    link(after)->m_next = item;
    if (next)
      link(next)->m_prev = item;
    else
      m_tail = item;
    ++m_count;
    return item;
  }

  // The item must be in this list; its own links are left as they were.
  T* remove(T* item) {
    T* const prev = link(item)->m_prev;
    T* const next = link(item)->m_next;
    if (prev)
      link(prev)->m_next = next;
    else
      m_head = next;
    if (next)
      link(next)->m_prev = prev;
    else
      m_tail = prev;
    --m_count;
    return item;
  }

  T* remove_from_head() { return m_head ? remove(m_head) : nullptr; }
  T* remove_from_tail() { return m_tail ? remove(m_tail) : nullptr; }

  // Exchanges the whole contents of the two lists.
  void merge(F_dual_list& other) {
    T* const head = m_head;
    T* const tail = m_tail;
    unsigned const count = m_count;
    m_head = other.m_head;
    m_tail = other.m_tail;
    m_count = other.m_count;
    other.m_head = head;
    other.m_tail = tail;
    other.m_count = count;
  }

  iterator begin() const { return iterator(m_head); }
  iterator end() const { return iterator(); }
  iterator last() const { return iterator(m_tail); }
  unsigned size() const { return m_count; }
  unsigned count() const { return m_count; }
  bool empty() const { return m_count == 0; }
  T* head() const { return m_head; }
  T* tail() const { return m_tail; }

private:
  static F_dual_list_item<T>* link(T* item) { return static_cast<F_dual_list_item<T>*>(item); }

  T* m_head = nullptr;
  T* m_tail = nullptr;
  unsigned m_count = 0;
};

// Kept in the order of T::compare (a signed difference). Insertion walks from the tail,
// because new keys usually sort last; equal keys keep their insertion order.
template <class T>
class F_sorted_list : public F_dual_list<T> {
public:
  T* insert_to_tail_by_grown(T* item) {
    for (T* at = this->tail(); at; at = at->get_prev()) {
      if (at->compare(*item) <= 0) return this->insert_after(at, item);
    }
    return this->insert_to_head(item);
  }
  unsigned count() const { return F_dual_list<T>::count(); }
};
