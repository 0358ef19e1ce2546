#include "foundation/timer.h"

#include "foundation/clock.h"
#include "foundation/multiplexer.h"

TimerEvent::~TimerEvent() { multiplexer.reset(this); }

void TimerEvent::schedule(unsigned ms) {
  expire = Mux::milliseconds() + ms;
  multiplexer.set(this);
}

void TimerEvent::reset() { multiplexer.reset(this); }
