#pragma once
// One-shot millisecond timers on the loop's 32-bit wrapping clock. An owner keeps a Timer
// member; arming it puts a TimerEvent into the loop's deadline-ordered list. Firing
// unbinds the entry first, so the handler may re-arm the timer or destroy its owner.

#include <type_traits>
#include <utility>

#include "foundation/dual_list.h"

class Timer;

class TimerEvent : public F_dual_list_item<TimerEvent> {
public:
  TimerEvent() = default;
  TimerEvent(TimerEvent const&) = delete;
  TimerEvent& operator=(TimerEvent const&) = delete;
  virtual ~TimerEvent();

  virtual void fire() = 0;

  // Due `ms` milliseconds from now; restarts a queued entry.
  void schedule(unsigned ms);
  void reset();

  // Deadlines are ordered by their wrapping difference read as signed: right across the
  // wrap of the clock while they lie less than 2^31 ms apart.
  int compare(TimerEvent const& other) const { return static_cast<int>(expire - other.expire); }

  unsigned expire = 0;

private:
  friend class Multiplexer;
  bool m_listed = false;
};

// Calls a member of the owner object: ObjTimerEvent1 one without arguments,
// ObjTimerEvent2 one that receives the Timer.
template <class T, class Member>
class ObjTimerEvent : public TimerEvent {
public:
  ObjTimerEvent(Timer* owner, Member member, T* object, unsigned ms)
      : m_owner(owner), m_member(member), m_object(object) {
    schedule(ms);
  }
  void fire() override;

private:
  Timer* m_owner;
  Member m_member;
  T* m_object;
};

template <class T>
using ObjTimerEvent1 = ObjTimerEvent<T, void (T::*)()>;
template <class T>
using ObjTimerEvent2 = ObjTimerEvent<T, void (T::*)(Timer*)>;

class Timer {
public:
  Timer() = default;
  Timer(Timer const&) = delete;
  Timer& operator=(Timer const&) = delete;
  ~Timer() { reset(); }

  template <class T>
  void set(unsigned ms, void (T::*member)(), T* object) {
    arm(new ObjTimerEvent1<T>(this, member, object, ms));
  }
  template <class T>
  void set(unsigned ms, void (T::*member)(Timer*), T* object) {
    arm(new ObjTimerEvent2<T>(this, member, object, ms));
  }

  void reset() { delete std::exchange(m_event, nullptr); }
  // Lets go of the armed entry without cancelling it; only firing entries call it.
  TimerEvent* Unbind() { return std::exchange(m_event, nullptr); }
  bool is_running() const { return m_event != nullptr; }

private:
  // The new entry is queued before the old one is cancelled, so among equal deadlines a
  // restarted timer goes behind those already queued.
  void arm(TimerEvent* entry) { delete std::exchange(m_event, entry); }

  TimerEvent* m_event = nullptr;
};

// The entry is already off the loop's list and the Timer lets go of it first, so the
// member may re-arm the timer or destroy its owner; only the entry itself is deleted.
template <class T, class Member>
void ObjTimerEvent<T, Member>::fire() {
  m_owner->Unbind();
  if constexpr (std::is_invocable_v<Member, T*, Timer*>)
    (m_object->*m_member)(m_owner);
  else
    (m_object->*m_member)();
  delete this;
}

// A Timer whose period and member come from a constant record of the owner class:
//   static constexpr TimerSpec<Owner>::Spec TUpdatespec{&Owner::OnUpdateTimer, 3000};
//   TimerSpec<Owner>::SpecTimer<&Owner::TUpdatespec> m_update;
template <class T>
struct TimerSpec {
  struct Spec {
    void (T::*member)();
    unsigned period;
  };
  template <Spec const* S>
  class SpecTimer : public Timer {
  public:
    void set(T* object) { Timer::set(S->period, S->member, object); }
  };
};
