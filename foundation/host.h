#pragma once
// Streams an object's peer address through its PutAddr: `os << host(this)`.

#include <ostream>

template <class T>
class Host {
public:
  explicit Host(T* object) : m_object(object) {}
  void Put(std::ostream& os) const { m_object->PutAddr(os); }

private:
  T* m_object;
};

template <class T>
Host<T> host(T* object) {
  return Host<T>(object);
}

template <class T>
std::ostream& operator<<(std::ostream& os, Host<T> const& h) {
  h.Put(os);
  return os;
}
