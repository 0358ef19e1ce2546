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

  // "a.b.c.d:port"; a text INet4::Addr rejects (a host name, for one) or one holding a NUL
  // byte fails at once.
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

// Copies everything readable from a source to a destination, reading again only once all
// that was read has been written, so a slow destination slows the reading instead of
// growing memory. The descriptors are used as given: the owner makes them non-blocking.
// Reads and writes go through Board::io(): either end may be a board device.
class Copy {
public:
  struct Status {
    enum Type { Failed = 4, Completed = 5, Reconfigured = 6 };
  };

  struct EventsParams {
    std::uint32_t read_mask = POLLIN;       // on the source while waiting to read
    std::uint32_t write_mask = POLLOUT;     // on the destination while data waits
    std::uint32_t flush_mask = POLLWRNORM;  // on the destination after the source ended; 0: none
  };

  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(Status::Type status) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(Status::Type status);
    THandler(Action action, T* object) : m_action(action), m_object(object) {}
    void Invoke(Status::Type status) override {
      if (m_action) (m_object->*m_action)(status);
    }

  private:
    Action m_action;
    T* m_object;
  };

  Copy() = default;
  Copy(Copy const&) = delete;
  Copy& operator=(Copy const&) = delete;
  // The handler is not called.
  ~Copy();

  void Start(Fd source, Fd destination);
  // Ends the reading as if the source had ended; what was read is still written.
  void Stop();

  // Both end a running copy with Reconfigured; the new settings serve the next Start.
  void set_events(EventsParams const& params);
  // 0 keeps the current size: a zero-length buffer would end every copy at once.
  void set_bufsize(unsigned n);

  void Bind(Handler* handler) { m_handler.reset(handler); }
  template <class T>
  void Bind(typename THandler<T>::Action action, T* object) {
    Bind(new THandler<T>(action, object));
  }
  void UnBind() { Bind(nullptr); }

  void OnSrcEvent(int fd, short revents);
  void OnDstEvent(int fd, short revents);

private:
  enum { kIdle = 0, kCopying = 1, kDraining = 2, kFlushing = 3 };
  // A step either goes on (true) or has set the masks it waits on (false).
  using Step = bool (Copy::*)();

  void Progress();
  bool SrcReady();
  bool DstReady();
  bool NotReady() { return false; }
  bool GoFlush();
  bool GoFlushDst();
  void Await(std::uint32_t source_mask, std::uint32_t destination_mask);
  void Complete(Status::Type status);

  Fd m_src;
  Fd m_dst;
  EventsParams m_params;
  unsigned m_bufsize = 0;
  Step m_step = &Copy::NotReady;
  std::unique_ptr<Handler> m_handler;
  Event m_src_event;
  Event m_dst_event;
  std::uint32_t m_written = 0;
  unsigned m_pending_begin = 0;
  unsigned m_pending_end = 0;
  int m_state = kIdle;
  std::unique_ptr<unsigned char[]> m_buffer;
};

}  // namespace ASync
