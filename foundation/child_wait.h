#pragma once
// Child-process exit notification inside the loop. One process-wide service catches
// SIGCHLD: its handler only reaps exited children and writes {pid, status} records to a
// socket pair; the loop reads them and calls the handler of the first ChildWait attached
// to that pid. Once active, it reaps every child of the process, also those nobody waits
// for (they are only logged), so waitpid, pclose and system elsewhere find no status.

#include <csignal>
#include <cstddef>
#include <new>

#include "foundation/dual_list.h"
#include "foundation/event.h"
#include "foundation/fd.h"

class ChildWaitService;

// One subscription: bind a member, attach the child's pid; notified at most once per
// attach, from the loop, after it has left the service's list (so the member may attach
// it again, detach it or destroy it).
class ChildWait : public F_dual_list_item<ChildWait> {
public:
  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(ChildWait& wait, int status) = 0;
  };

  template <class T>
  class THandler1 : public Handler {
  public:
    using Action = void (T::*)(int status);
    THandler1(T* object, Action action) : m_object(object), m_action(action) {}
    void Invoke(ChildWait&, int status) override { (m_object->*m_action)(status); }

  private:
    T* m_object;
    Action m_action;
  };

  class DummyHandler : public Handler {
  public:
    void Invoke(ChildWait&, int) override {}
  };

  // Keeps the service alive while any module that uses it is: the first guard creates
  // it, the last one destroyed deletes it.
  class Init {
  public:
    Init();
    ~Init();
    Init(Init const&) = delete;
    Init& operator=(Init const&) = delete;
  };
  static int UsageCounter;

  ChildWait() : m_handler(new (m_storage) DummyHandler) {}
  ~ChildWait();
  ChildWait(ChildWait const&) = delete;
  ChildWait& operator=(ChildWait const&) = delete;

  // Replaces the held handler; handlers live inside the ChildWait, never on the heap.
  template <class T>
  void Bind(T* object, void (T::*action)(int status)) {
    static_assert(sizeof(THandler1<T>) <= sizeof m_storage && alignof(THandler1<T>) <= alignof(std::max_align_t));
    m_handler->~Handler();
    m_handler = new (m_storage) THandler1<T>(object, action);
  }

  // Moves the subscription to the tail of the service's list.
  void Attach(int pid);
  void Detach();

  int pid() const { return m_pid; }
  bool is_attached() const { return m_service != nullptr; }

  static void Initialize();
  static void Cleanup();
  // Starts catching SIGCHLD; the server calls it once before its loop runs.
  static void Activate();
  // Hands out the exit records already written, for a caller that holds the loop.
  static void HandOut();

private:
  friend class ChildWaitService;

  int m_pid = 0;
  ChildWaitService* m_service = nullptr;  // the service whose list holds it
  alignas(std::max_align_t) unsigned char m_storage[64];
  static_assert(sizeof(m_storage) == 64, "a handler's storage is 64 bytes");
  Handler* m_handler;
};

class ChildWaitService {
public:
  ChildWaitService() = default;
  ~ChildWaitService();
  ChildWaitService(ChildWaitService const&) = delete;
  ChildWaitService& operator=(ChildWaitService const&) = delete;

  // Creates the socket pair, schedules its read end and installs the SIGCHLD handler.
  // Without a socket pair the handler still reaps, but no exit is reported.
  void Activate();
  void Attach(ChildWait* wait);
  void Detach(ChildWait* wait);

  static void SigChldHandlerWrapper(int signo, siginfo_t* info, void* context);
  void SigChldHandler();
  void OnChildEvent(int fd, short revents);
  void HandOut();

  static ChildWaitService* childWaitService;

private:
  Event m_event;
  Fd m_write;
  F_dual_list<ChildWait> m_waits;
};

// Every module that uses ChildWait holds one, so the service exists before main and
// until the last of those modules' statics is gone.
static ChildWait::Init ChildWaitInit;
