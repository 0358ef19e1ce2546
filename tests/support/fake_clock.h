#pragma once
// Simulated time for tests: installs itself as the loop clock's source while it lives.
// The monotonic reading drives timers and the watchdog; the wall reading follows it from
// a fixed date so that both move together.

#include <cstdint>

#include "foundation/clock.h"

namespace test {

class FakeClock {
public:
  // Starts at the given millisecond reading of the loop clock (default: 10 s before the
  // 32-bit millisecond counter wraps, to catch wrap-around faults everywhere).
  explicit FakeClock(std::uint64_t start_ms = (std::uint64_t{1} << 32) - 10000);
  ~FakeClock();
  FakeClock(FakeClock const&) = delete;
  FakeClock& operator=(FakeClock const&) = delete;

  void advance_ms(std::uint64_t ms) { m_us += ms * 1000; }
  void advance_us(std::uint64_t us) { m_us += us; }
  void set_ms(std::uint64_t ms) { m_us = ms * 1000; }
  std::uint64_t now_us() const { return m_us; }

  static FakeClock* current() { return s_current; }

private:
  static std::uint64_t monotonic();
  static void wall(::timeval* tv);

  std::uint64_t m_us;
  Mux::ClockSource m_source;
  Mux::ClockSource const* m_previous;
  static FakeClock* s_current;
};

}  // namespace test
