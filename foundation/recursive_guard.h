#pragma once
// A scope guard for re-entrant handling: every guarded call raises the object's level on
// entry and lowers it on exit, and the outermost one to end runs the object's check, so
// work that must not happen inside nested calls (tearing a link down) waits until then.
//   std::RecursiveGuard<AuthClient, &AuthClient::CheckDisconnect, &AuthClient::mRecursionLevel> guard(this);

namespace std {

template <class T, void (T::*Check)(), int T::*Level>
class RecursiveGuard {
public:
  explicit RecursiveGuard(T* object) : m_object(object) { ++(m_object->*Level); }
  ~RecursiveGuard() {
    if (--(m_object->*Level) == 0) (m_object->*Check)();
  }
  RecursiveGuard(RecursiveGuard const&) = delete;
  RecursiveGuard& operator=(RecursiveGuard const&) = delete;

private:
  T* m_object;
};

}  // namespace std
