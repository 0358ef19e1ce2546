#pragma once
// The event loop as fuzz targets run it: passes that never wait, a given number at a time.

#include <poll.h>

#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"

namespace fuzz {

// From now on a pass ends as soon as its work is done.
inline void never_wait() {
  multiplexer.set_poll_function([](pollfd* records, nfds_t count, int) { return ::poll(records, count, 0); });
}

// Runs `passes` loop passes.
inline void run_passes(unsigned passes) {
  struct Counter {
    unsigned left;
    Dpc dpc;
    // Something to wait for, so that a loop with no descriptor left is no hang.
    Timer far;
    void step() {
      if (left-- == 0) multiplexer.terminate();
    }
    void never() {}
  } counter{passes, {}, {}};
  counter.dpc.Bind(&counter, &Counter::step);
  counter.dpc.Activate();
  counter.far.set(3600000, &Counter::never, &counter);
  multiplexer.run(false, true);
}

}  // namespace fuzz
