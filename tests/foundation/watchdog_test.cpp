// The loop keeps the board's watchdog alive through the board seam; checked against the
// stand-in's record of every write and the simulated time it happened at.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "boardsim/watchdog.h"
#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "tests/support/board_fixture.h"
#include "tests/support/simulated_poll.h"

namespace {

using BoardSim::Repeat;
using BoardSim::Watchdog;

class WatchdogLoopTest : public test::BoardTest {
protected:
  WatchdogLoopTest() : start(Mux::milliseconds()) {}

  // "TEXT@ms" after the test's start, for every accepted write.
  std::vector<std::string> writes() const {
    std::vector<std::string> out;
    for (auto const& w : watchdog.writes()) out.push_back(w.text + "@" + std::to_string(w.ms - start));
    return out;
  }

  Watchdog& watchdog = sim.add<Watchdog>();
  test::SimulatedPoll poll{clock};
  unsigned start;
};

TEST_F(WatchdogLoopTest, StartPingEverySecondStop) {
  test::StopAfter stop(3500);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n");
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{1000, 1000, 1000, 500}));
  EXPECT_EQ(writes(), (std::vector<std::string>{"START@0", "PING@1000", "PING@2000", "PING@3000", "STOP@3500"}));
  EXPECT_EQ(watchdog.state(), Watchdog::State::stopped);
  EXPECT_EQ(watchdog.open_count(), 0) << "the device is closed when the loop ends";
}

TEST_F(WatchdogLoopTest, NothingToWaitForIsAHangEvenWithTheWatchdogOpen) {
  // A loop that went on to poll instead would idle here for ever, pinging.
  poll.before_poll = [] {
    std::cerr << "polled with nothing to wait for" << std::endl;
    std::_Exit(3);
  };
  EXPECT_DEATH(multiplexer.run(true, true), "multiplexer: system hang detected!!!");
}

TEST_F(WatchdogLoopTest, PingsAtMostOncePerSecondWhatEverThePassRate) {
  // A descriptor that is always ready makes passes far more often than once a second.
  struct Busy {
    void on(int, short) { test::FakeClock::current()->advance_ms(300); }
  } busy;
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  Fd rd(fds[0]), wr(fds[1]);
  ASSERT_EQ(::write(wr.lowlevel_fd(), "x", 1), 1);
  Event ready;
  ready.Bind("Busy::on", &Busy::on, &busy);
  ready.Schedule(rd, POLLIN);
  test::StopAfter stop(2000);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  testing::internal::GetCapturedStderr();
  // Pings follow polls: the first pass always pings, then only when more than 999 ms passed.
  EXPECT_EQ(writes(), (std::vector<std::string>{"START@0", "PING@0", "PING@1200", "STOP@2100"}));
}

TEST_F(WatchdogLoopTest, TimerBeyondTheCapIsReachedInSteps) {
  struct Owner {
    void fire() {
      fired_at = Mux::milliseconds();
      multiplexer.terminate();
    }
    unsigned fired_at = 0;
    Timer timer;
  } owner;
  owner.timer.set(1500, &Owner::fire, &owner);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{1000, 500}));
  EXPECT_EQ(owner.fired_at - start, 1500u);
}

TEST_F(WatchdogLoopTest, FailedOpenRunsWithoutWatchdogOrCap) {
  sim.fail(Board::kWatchdog, "open", ENODEV, Repeat::once);
  test::StopAfter stop(3500);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: fail to open watchdog: No such device\nMux: terminating...\n");
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{3500}));
  EXPECT_TRUE(writes().empty());
}

TEST_F(WatchdogLoopTest, FailedStartClosesTheDevice) {
  sim.fail(Board::kWatchdog, "write", EIO, Repeat::once);
  test::StopAfter stop(1500);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: fail to activate watchdog: Input/output error\nMux: terminating...\n");
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(watchdog.open_count(), 0);
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{1500}));
}

TEST_F(WatchdogLoopTest, FailedPingAndStopAreReportedAndTheLoopGoesOn) {
  struct FailLater {
    explicit FailLater(BoardSim::Sim& s) : sim(s) { timer.set(500, &FailLater::arm, this); }
    void arm() { sim.fail(Board::kWatchdog, "write", EIO, Repeat::always); }
    BoardSim::Sim& sim;
    Timer timer;
  } fail_later(sim);
  test::StopAfter stop(1600);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Mux: ping watchdog failed: Input/output error\nMux: terminating...\n"
            "Mux: stop watchdog failed: Input/output error\n");
  EXPECT_EQ(writes(), (std::vector<std::string>{"START@0", "PING@500"}));
  EXPECT_EQ(watchdog.open_count(), 0);
}

TEST_F(WatchdogLoopTest, ResetWDPingsOnlyWhileOpen) {
  multiplexer.resetWD();  // not open: nothing
  EXPECT_TRUE(writes().empty());
  struct Kick {
    void fire() {
      multiplexer.resetWD();
      multiplexer.terminate();
    }
    Timer timer;
  } kick;
  kick.timer.set(100, &Kick::fire, &kick);
  testing::internal::CaptureStderr();
  multiplexer.run(true, true);
  testing::internal::GetCapturedStderr();
  // The loop's own ping after poll, then the explicit one from the timer.
  EXPECT_EQ(writes(), (std::vector<std::string>{"START@0", "PING@100", "PING@100", "STOP@100"}));
}

}  // namespace
