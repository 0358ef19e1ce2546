#pragma once
// Work that must never block the loop: opening a TCP connection and copying one descriptor
// into another. Each object reports its outcome once, to a handler bound to a member of its
// owner; that member may delete the object or start it again from inside the call. Neither
// class logs: every failure is a status for the owner.

#include <cstdint>
#include <memory>
#include <poll.h>
#include <string>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/inet.h"
#include "foundation/timer.h"

namespace ASync {

class Connect {
public:
  struct Status {
    enum Type { Failed = 2, Connected = 3, Stopped = 4 };
  };

  class Handler {
  public:
    virtual ~Handler() = default;
    // The socket is valid for Connected only; the owner keeps it by keeping the Fd.
    virtual void Invoke(Status::Type status, Fd socket) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(Status::Type status, Fd socket);
    THandler(Action action, T* object) : m_action(action), m_object(object) {}
    void Invoke(Status::Type status, Fd socket) override {
      if (m_action) (m_object->*m_action)(status, std::move(socket));
    }

  private:
    Action m_action;
    T* m_object;
  };

  Connect() = default;
  Connect(Connect const&) = delete;
  Connect& operator=(Connect const&) = delete;
  // The handler is not called.
  virtual ~Connect();

  // "a.b.c.d:port"; a text INet4::Addr rejects (a host name, for one) fails at once.
  void Start(std::string const& address, unsigned timeout_ms);
  void Stop() { Complete(Status::Stopped); }

  void Bind(Handler* handler) { m_handler.reset(handler); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }
  void UnBind() { Bind(nullptr); }

  void OnSocketEvent(int fd, short revents);
  void OnTimeOut(Timer* timer);

protected:
  // Tests replace it to reach outcomes loopback never gives (a connect done at once).
  virtual int connect_socket(int fd, INet4::Addr const& address);

private:
  enum { kIdle = 0, kConnecting = 1 };

  void Complete(Status::Type status);

  int m_state = kIdle;
  Fd m_socket;
  Event m_event;
  std::unique_ptr<Handler> m_handler;
  Timer m_timer;
};

}  // namespace ASync
