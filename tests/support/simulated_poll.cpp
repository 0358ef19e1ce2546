#include "tests/support/simulated_poll.h"

#include <gtest/gtest.h>
#include <poll.h>

namespace test {

SimulatedPoll* SimulatedPoll::s_current = nullptr;

SimulatedPoll::SimulatedPoll(FakeClock& clock) : m_clock(clock) {
  s_current = this;
  m_previous = multiplexer.set_poll_function(&SimulatedPoll::poll);
}

SimulatedPoll::~SimulatedPoll() {
  multiplexer.set_poll_function(m_previous);
  s_current = nullptr;
}

int SimulatedPoll::poll(pollfd* records, nfds_t count, int timeout_ms) {
  SimulatedPoll& self = *s_current;
  self.m_timeouts.push_back(timeout_ms);
  self.m_sizes.push_back(count);
  if (self.before_poll) self.before_poll();
  int const ready = ::poll(records, count, 0);
  if (ready != 0) return ready;
  if (timeout_ms < 0) {
    ADD_FAILURE() << "the loop would wait without limit with nothing ready";
    multiplexer.terminate();
    return 0;
  }
  self.m_clock.advance_ms(static_cast<unsigned>(timeout_ms));
  return 0;
}

}  // namespace test
