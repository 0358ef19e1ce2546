#pragma once
// A listening socket whose accept fails (for want of descriptors, memory or buffers, or
// for a reason the kernel gives later) stays readable: polled as it is, the waiting peer
// would wake the loop on every pass. Its event sleeps for a second instead, and
// accepting is tried again after.

#include "foundation/event.h"
#include "foundation/timer.h"

class AcceptPause {
public:
  static constexpr unsigned kPauseMs = 1000;

  // After a failed accept, with errno as it left: unless nothing is waiting (EAGAIN) or
  // the failure was the one client's (EINTR, ECONNABORTED), logs one line, puts `listen`
  // to sleep and returns true.
  bool OnAcceptFailed(Event& listen);
  // The listener is going away: no wake-up.
  void Cancel() { m_timer.reset(); }

private:
  void OnTimeout(Timer*);

  Event* m_listen = nullptr;
  Timer m_timer;
};
