#pragma once
// A named registration of one descriptor with the loop. The Event keeps its own duplicate
// of the descriptor and is attached while it holds a valid one, unless it left the loop
// with Leave(). Its handler runs on every pass in which poll reports any ready
// descriptor, with the events reported for this Event (possibly 0), so callbacks test the
// events themselves.

#include <iostream>
#include <poll.h>
#include <string>

#include "foundation/fd.h"
#include "foundation/measure.h"
#include "foundation/multiplexer.h"

class Event : public EventHandler {
public:
  class Handler {
  public:
    virtual ~Handler() = default;
    virtual void Invoke(int fd, short revents) = 0;
  };

  template <class T>
  class THandler : public Handler {
  public:
    using Action = void (T::*)(int fd, short revents);
    THandler(Action action, T* object) : m_action(action), m_object(object) {}
    void Invoke(int fd, short revents) override {
      if (m_action) (m_object->*m_action)(fd, revents);
    }

  private:
    Action m_action;
    T* m_object;
  };

  Event() = default;
  ~Event() override;

  void Bind(Handler* handler);
  template <class T>
  void Bind(std::string const& name, typename THandler<T>::Action action, T* object) {
    m_name = name;
    Bind(new THandler<T>(action, object));
  }
  void UnBind() { Bind(nullptr); }

  // Polls a fresh duplicate of `fd` for `events` from the next pass on; the caller's
  // descriptor stays its own. An invalid fd leaves the Event detached.
  void Schedule(Fd const& fd, short events);
  // Stops polling and closes the Event's duplicate; -1 (EBADF) when it had none.
  int Release();
  // Stops polling and keeps the duplicate, for an owner whose requests go through it.
  void Leave() { mux_detach(); }

  // What the duplicate is left with when StopOnHangUp stops the polling.
  enum class Ending { close, keep };
  // A descriptor that hung up or failed (POLLHUP, POLLERR or POLLNVAL in `revents`), or
  // whose read found its end (`ended`), would be reported ready on every pass: the loop
  // stops watching it and the pieces of `line`, anything streamable, go to the error
  // stream as one line. Called after the data that came with the event was read. True
  // when it stopped.
  template <class... Line>
  bool StopOnHangUp(short revents, bool ended, Ending ending, Line const&... line) {
    if (!ended && !HungUp(revents)) return false;
    (std::cerr << ... << line) << std::endl;
    if (ending == Ending::close)
      Release();
    else
      Leave();
    return true;
  }
  static bool HungUp(short revents) { return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0; }
  void SetEvents(int events) { m_events = static_cast<short>(events); }

  int lowlevel_fd() const { return m_fd.lowlevel_fd(); }
  bool IsActive() const { return m_fd.is_valid(); }
  Measure const& measure() const { return m_measure; }
  short events() const { return m_events; }
  unsigned counter() const { return m_counter; }
  bool is_bound() const { return m_handler != nullptr; }

  void shedule_event(pollfd& record) override;
  void svc_event(short revents) override;
  std::string event_name() const override { return m_name; }
  bool is_named() const override { return true; }

private:
  Handler* m_handler = nullptr;
  Fd m_fd;
  short m_events = 0;
  std::string m_name = "Unknown";
  unsigned m_counter = 0;
  Measure m_measure;
};
