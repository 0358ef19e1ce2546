#include "foundation/clock.h"

#include <cstdio>
#include <ctime>

namespace Mux {

timeval g_tv_time;

namespace {
// Monotonic reading taken together with g_tv_time when the clock is latched.
std::uint64_t g_mono_latch_us = 0;
ClockSource const* g_source = nullptr;

void system_wall(::timeval* tv) {
  if (g_source && g_source->wall) {
    g_source->wall(tv);
    return;
  }
  ::gettimeofday(tv, nullptr);
}

std::uint64_t system_monotonic_us() {
  if (g_source && g_source->monotonic_us) return g_source->monotonic_us();
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::uint64_t(ts.tv_sec) * 1000000u + std::uint64_t(ts.tv_nsec) / 1000u;
}

std::uint64_t monotonic_us() { return g_tv_time.is_zero() ? system_monotonic_us() : g_mono_latch_us; }
}  // namespace

ClockSource const* set_clock_source(ClockSource const* source) {
  ClockSource const* previous = g_source;
  g_source = source;
  return previous;
}

int mux_gettimeofday(timeval* tv) {
  if (!g_tv_time.is_zero()) {
    *tv = g_tv_time;
    return 0;
  }
  system_wall(tv);
  return 0;
}

int mux_settimeofday() {
  timeval now;
  system_wall(&now);
  g_mono_latch_us = system_monotonic_us();
  g_tv_time = now;
  return 0;
}

unsigned milliseconds() { return static_cast<unsigned>(monotonic_us() / 1000u); }

unsigned microseconds() { return static_cast<unsigned>(monotonic_us()); }

int seconds() {
  timeval tv;
  mux_gettimeofday(&tv);
  return static_cast<int>(tv.tv_sec);
}

int gettimeval(timeval* tv) {
  mux_gettimeofday(tv);
  return 0;
}

std::string timevaltostring(timeval const& tv) {
  char date[64] = "";
  char text[sizeof date + 24] = "";  // room for the widest microsecond field
  time_t const t = tv.tv_sec;
  struct tm local;
  if (::localtime_r(&t, &local)) std::strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text, sizeof text, "%s.%06ld", date, static_cast<long>(tv.tv_usec));
  return text;
}

void timevaladd(timeval& a, timeval const& b) {
  long const usec = a.tv_usec + b.tv_usec;
  a.tv_sec += b.tv_sec + usec / 1000000;
  a.tv_usec = usec % 1000000;
}

void timevalsub(timeval& a, timeval const& b) {
  long const t = a.tv_usec - b.tv_usec + 1000000;
  a.tv_sec = a.tv_sec - b.tv_sec - 1 + t / 1000000;
  a.tv_usec = t % 1000000;
}

void timevaladd2(timeval const& a, timeval const& b, timeval& result) {
  result = a;
  timevaladd(result, b);
}

void timevalsub2(timeval const& a, timeval const& b, timeval& result) {
  result = a;
  timevalsub(result, b);
}

void timevalset(timeval& tv, std::uint64_t ms) {
  tv.tv_sec = static_cast<time_t>(ms / 1000);
  tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
}

std::int64_t timevaldiff(timeval const& a, timeval const& b) {
  if (timevalcompare(b, a) < 0) return 0;
  return std::int64_t(b.tv_sec - a.tv_sec) * 1000 + (b.tv_usec - a.tv_usec) / 1000;
}

int timevalcompare(timeval const& a, timeval const& b) {
  if (a.tv_sec != b.tv_sec) return a.tv_sec < b.tv_sec ? -1 : 1;
  if (a.tv_usec != b.tv_usec) return a.tv_usec < b.tv_usec ? -1 : 1;
  return 0;
}

timeval make_from_usec(unsigned us) { return timeval(us / 1000000, us % 1000000); }

timeval make_from_msec(unsigned ms) { return timeval(ms / 1000, (ms % 1000) * 1000); }

}  // namespace Mux
