#pragma once
// The event loop as fuzz targets run it: passes that never wait, a given number of them
// at a time.

#include <poll.h>

#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"

namespace fuzz {

inline unsigned& polls_made() {
  static unsigned count = 0;
  return count;
}

// Never waits: a pass ends as soon as its work is done.
inline int poll_now(pollfd* records, nfds_t count, int) {
  ++polls_made();
  return ::poll(records, count, 0);
}

// From now on the loop's passes never wait.
inline void never_wait() { multiplexer.set_poll_function(&poll_now); }

// Runs `passes` loop passes that poll and serve what is ready. Counted by the polls: the
// loop runs its deferred calls twice a pass.
inline void run_passes(unsigned passes) {
  struct Counter {
    unsigned until;
    Dpc dpc;
    // Something to wait for, so that a loop with no descriptor left is no hang.
    Timer far;
    void step() {
      if (polls_made() >= until) multiplexer.terminate();
    }
    void never() {}
  } counter{polls_made() + passes, {}, {}};
  counter.dpc.Bind(&counter, &Counter::step);
  counter.dpc.Activate();
  counter.far.set(3600000, &Counter::never, &counter);
  multiplexer.run(false, true);
}

}  // namespace fuzz
