#pragma once
// Intrusive reference-counting handle: the count lives in the target, which befriends
// Smart_pointer. The last handle deletes the target (a packet goes back to its pool
// through its class's operator delete; other targets through their virtual destructor).

#include <utility>

[[noreturn]] void SmartPtrAssertion();

template <class T>
class Smart_pointer {
public:
  Smart_pointer() = default;
  Smart_pointer(T* target) : m_target(target) { acquire(); }
  Smart_pointer(Smart_pointer const& other) : m_target(other.m_target) { acquire(); }
  Smart_pointer(Smart_pointer&& other) noexcept : m_target(std::exchange(other.m_target, nullptr)) {}
  ~Smart_pointer() { remove_current(); }

  Smart_pointer& operator=(Smart_pointer const& other) {
    if (other.m_target != m_target) {
      remove_current();
      m_target = other.m_target;
      acquire();
    }
    return *this;
  }
  Smart_pointer& operator=(Smart_pointer&& other) noexcept {
    if (this != &other) {
      remove_current();
      m_target = std::exchange(other.m_target, nullptr);
    }
    return *this;
  }
  Smart_pointer& operator=(T* target) {
    if (target != m_target) {
      remove_current();
      m_target = target;
      acquire();
    }
    return *this;
  }

  void clean() { remove_current(); }

  T& operator*() const { return *get_checked(); }
  T* operator->() const { return get_checked(); }
  T* get() const { return m_target; }

  explicit operator bool() const { return m_target != nullptr; }
  bool operator!() const { return m_target == nullptr; }

protected:
  void remove_current() {
    T* const target = std::exchange(m_target, nullptr);
    if (target && target->m_refcount > 0 && --target->m_refcount == 0) delete target;
  }
  T* get_checked() const {
    if (!m_target) SmartPtrAssertion();
    return m_target;
  }

  T* m_target = nullptr;

private:
  void acquire() {
    if (m_target) ++m_target->m_refcount;
  }
};
