#pragma once
// Drives the loop on simulated time: installed as the loop's poll call, it records each
// time-out, polls the real descriptors without sleeping and, when none is ready, advances
// the fake clock by the time-out instead of waiting it out. A pass that would wait without
// limit with nothing ready fails the test (it would hang for real).

#include <functional>
#include <vector>

#include "foundation/multiplexer.h"
#include "tests/support/fake_clock.h"

namespace test {

class SimulatedPoll {
public:
  explicit SimulatedPoll(FakeClock& clock);
  ~SimulatedPoll();
  SimulatedPoll(SimulatedPoll const&) = delete;
  SimulatedPoll& operator=(SimulatedPoll const&) = delete;

  std::vector<int> const& timeouts() const { return m_timeouts; }
  // Number of descriptors handed to each poll call.
  std::vector<std::size_t> const& sizes() const { return m_sizes; }
  // Runs right before each simulated poll (after the loop computed its time-out).
  std::function<void()> before_poll;

private:
  static int poll(pollfd* records, nfds_t count, int timeout_ms);

  FakeClock& m_clock;
  std::vector<int> m_timeouts;
  std::vector<std::size_t> m_sizes;
  Multiplexer::PollFunction m_previous;
  static SimulatedPoll* s_current;
};

// Ends the running loop after `ms` of loop time.
class StopAfter {
public:
  explicit StopAfter(unsigned ms) { m_timer.set(ms, &StopAfter::stop, this); }

private:
  void stop() { multiplexer.terminate(); }
  Timer m_timer;
};

}  // namespace test
