#include "tests/support/fake_clock.h"

namespace test {

FakeClock* FakeClock::s_current = nullptr;

FakeClock::FakeClock(std::uint64_t start_ms)
    : m_us(start_ms * 1000), m_source{&FakeClock::wall, &FakeClock::monotonic} {
  m_previous = Mux::set_clock_source(&m_source);
  s_current = this;
  Mux::g_tv_time = Mux::timeval();
}

FakeClock::~FakeClock() {
  Mux::set_clock_source(m_previous);
  s_current = nullptr;
  Mux::g_tv_time = Mux::timeval();
}

std::uint64_t FakeClock::monotonic() { return s_current->m_us; }

void FakeClock::wall(::timeval* tv) {
  // 2026-01-01 00:00:00 UTC plus the simulated time.
  std::uint64_t const us = std::uint64_t{1767225600} * 1000000 + s_current->m_us;
  tv->tv_sec = static_cast<time_t>(us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(us % 1000000);
}

}  // namespace test
