#pragma once
// When a connector tries again: after an activation its first kFastRetries failed
// attempts wait kFastRetryMs each, later ones the delay their cause sets; a link that
// went down waits kReconnectMs. The TCP and the local-socket connectors keep the same
// delays.

#include "foundation/timer.h"

class ConnectRetry {
public:
  static constexpr int kFastRetries = 7;
  static constexpr unsigned kFastRetryMs = 1000;
  static constexpr unsigned kReconnectMs = 10000;

  // A new activation: the fast retries start over.
  void Restart() { m_fast_left = kFastRetries; }
  // After a failed attempt: `try_again` on `owner` after the fast delay or `long_delay`.
  template <class T>
  void AfterFailure(unsigned long_delay, void (T::*try_again)(Timer*), T* owner) {
    unsigned delay = long_delay;
    if (m_fast_left > 0) {
      --m_fast_left;
      delay = kFastRetryMs;
    }
    m_timer.set(delay, try_again, owner);
  }
  template <class T>
  void AfterDisconnect(void (T::*try_again)(Timer*), T* owner) {
    m_timer.set(kReconnectMs, try_again, owner);
  }
  void Cancel() { m_timer.reset(); }

private:
  Timer m_timer;
  int m_fast_left = 0;
};
