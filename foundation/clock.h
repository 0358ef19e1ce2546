#pragma once
// The loop's clock. Deadlines and durations (milliseconds, microseconds) come from a
// monotonic source so that a step of the system time neither fires nor stalls timers;
// the wall-clock readings (seconds, gettimeval, time stamps) stay on the system time.

#include <cstdint>
#include <string>
#include <sys/time.h>

namespace Mux {

struct timeval : ::timeval {
  timeval() : ::timeval{0, 0} {}
  timeval(long sec, long usec) : ::timeval{sec, usec} {}
  bool is_zero() const { return tv_sec == 0 && tv_usec == 0; }
};

// A non-zero latch is returned by every reading instead of the system clock; the loop
// latches once per pass when asked to (Multiplexer::run with no_time_cache false).
extern timeval g_tv_time;

int mux_gettimeofday(timeval* tv);
int mux_settimeofday();
unsigned milliseconds();
unsigned microseconds();
int seconds();
int gettimeval(timeval* tv);
std::string timevaltostring(timeval const& tv);

void timevaladd(timeval& a, timeval const& b);
void timevalsub(timeval& a, timeval const& b);
void timevaladd2(timeval const& a, timeval const& b, timeval& result);
void timevalsub2(timeval const& a, timeval const& b, timeval& result);
void timevalset(timeval& tv, std::uint64_t ms);
std::int64_t timevaldiff(timeval const& a, timeval const& b);
int timevalcompare(timeval const& a, timeval const& b);
timeval make_from_usec(unsigned us);
timeval make_from_msec(unsigned ms);

// Test hook: replaces both time sources (null members keep the system's). Returns the
// previous source. Production code never calls it.
struct ClockSource {
  void (*wall)(::timeval* tv);       // the system time
  std::uint64_t (*monotonic_us)();   // microseconds of a clock that never steps
};
ClockSource const* set_clock_source(ClockSource const* source);

}  // namespace Mux
