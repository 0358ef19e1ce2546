#pragma once
// Deferred calls: work the loop runs later instead of inside the call that asked for it.
// An active Dpc runs twice in every pass (after the due timers and again just before
// poll), in ascending order of the Dpc objects' addresses, until its owner deactivates it.

class DpcHandler {
public:
  virtual void Invoke() = 0;
  virtual ~DpcHandler() = default;
};

class DpcHandler1 : public DpcHandler {
public:
  explicit DpcHandler1(void (*function)()) : m_function(function) {}
  void Invoke() override { m_function(); }

private:
  void (*m_function)();
};

template <class T>
class TDpcHandler : public DpcHandler {
public:
  TDpcHandler(T* object, void (T::*member)()) : m_object(object), m_member(member) {}
  void Invoke() override { (m_object->*m_member)(); }

private:
  T* m_object;
  void (T::*m_member)();
};

class Dpc {
public:
  Dpc() = default;
  Dpc(Dpc const&) = delete;
  Dpc& operator=(Dpc const&) = delete;
  // Safe in any state, also from inside its own call.
  ~Dpc();

  void Bind(DpcHandler* handler);
  void Bind(void (*function)()) { Bind(new DpcHandler1(function)); }
  template <class T>
  void Bind(T* object, void (T::*member)()) {
    Bind(new TDpcHandler<T>(object, member));
  }

  void Activate();
  void Deactivate();
  bool IsActive() const { return m_active; }

  // Called by the loop only.
  void Invoke() {
    if (m_handler) m_handler->Invoke();
  }

private:
  DpcHandler* m_handler = nullptr;
  bool m_active = false;
};
