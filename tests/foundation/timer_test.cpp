// Timers on the loop, driven by simulated time that starts 10 s before the 32-bit
// millisecond clock wraps.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "foundation/clock.h"
#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"

namespace {

using test::FakeClock;
using test::SimulatedPoll;
using test::StopAfter;

// Records which timer fired and when (milliseconds after the test's start).
struct Recorder {
  explicit Recorder(FakeClock& c) : clock(c), start(Mux::milliseconds()) {}
  void note(std::string const& what) { fired.push_back(what + "@" + std::to_string(Mux::milliseconds() - start)); }
  FakeClock& clock;
  unsigned start;
  std::vector<std::string> fired;
};

struct Named {
  Named(Recorder& r, std::string n) : rec(r), name(std::move(n)) {}
  void on() { rec.note(name); }
  void on_timer(Timer* t) {
    rec.note(name);
    EXPECT_EQ(t, &timer);
    EXPECT_FALSE(timer.is_running()) << "a firing timer is idle while its handler runs";
  }
  Recorder& rec;
  std::string name;
  Timer timer;
};

class TimerTest : public ::testing::Test {
protected:
  FakeClock clock;
  SimulatedPoll poll{clock};
  Recorder rec{clock};
};

TEST_F(TimerTest, EqualDeadlinesFireInSetOrderAndResetMovesBehind) {
  Named a(rec, "a"), b(rec, "b"), c(rec, "c");
  a.timer.set(100, &Named::on, &a);
  b.timer.set(100, &Named::on_timer, &b);
  c.timer.set(50, &Named::on, &c);
  a.timer.set(100, &Named::on, &a);  // same deadline again: now behind b
  StopAfter stop(200);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"c@50", "b@100", "a@100"}));
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
}

TEST_F(TimerTest, DeadlinesAcrossTheClockWrapKeepTheirOrder) {
  unsigned const before = Mux::milliseconds();
  ASSERT_GT(before, 0xFFFFFFFFu - 20000u) << "the fake clock starts just before the wrap";
  Named late(rec, "late"), early(rec, "early"), middle(rec, "middle");
  late.timer.set(25000, &Named::on, &late);     // after the wrap
  early.timer.set(5000, &Named::on, &early);    // before the wrap
  middle.timer.set(10000, &Named::on, &middle); // right at the wrap
  StopAfter stop(30000);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"early@5000", "middle@10000", "late@25000"}));
  EXPECT_LT(Mux::milliseconds(), before) << "the clock wrapped during the test";
}

TEST_F(TimerTest, SettingAnArmedTimerRestartsIt) {
  Named a(rec, "a");
  a.timer.set(100, &Named::on, &a);
  clock.advance_ms(60);
  a.timer.set(100, &Named::on, &a);
  EXPECT_TRUE(a.timer.is_running());
  EXPECT_EQ(multiplexer.pending_timers(), 1u);
  StopAfter stop(300);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"a@160"}));
}

TEST_F(TimerTest, ResetAndDestructionCancel) {
  Named a(rec, "a");
  a.timer.reset();  // idle: nothing happens
  a.timer.set(10, &Named::on, &a);
  a.timer.reset();
  EXPECT_FALSE(a.timer.is_running());
  {
    Named b(rec, "b");
    b.timer.set(20, &Named::on, &b);
    EXPECT_EQ(multiplexer.pending_timers(), 1u);
  }
  EXPECT_EQ(multiplexer.pending_timers(), 0u);
  StopAfter stop(100);
  multiplexer.run(false, true);
  EXPECT_TRUE(rec.fired.empty());
}

TEST_F(TimerTest, ZeroPeriodFiresInTheNextScan) {
  Named a(rec, "a");
  a.timer.set(0, &Named::on, &a);
  StopAfter stop(10);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"a@0"}));
}

// A periodic handler re-arms itself; the firing entry is deleted without touching the new one.
struct Periodic {
  Periodic(Recorder& r) : rec(r) {}
  void tick(Timer* t) {
    rec.note("tick");
    if (++count < 3) t->set(40, &Periodic::tick, this);
    EXPECT_EQ(timer.is_running(), count < 3);
  }
  Recorder& rec;
  Timer timer;
  int count = 0;
};

TEST_F(TimerTest, HandlerReArmsItsOwnTimer) {
  Periodic p(rec);
  p.timer.set(40, &Periodic::tick, &p);
  StopAfter stop(500);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"tick@40", "tick@80", "tick@120"}));
  EXPECT_FALSE(p.timer.is_running());
}

struct SelfDestructing {
  static inline int destroyed = 0;
  ~SelfDestructing() { ++destroyed; }
  void fire() { delete this; }
  Timer timer;
};

TEST_F(TimerTest, HandlerMayDestroyTheTimersOwner) {
  SelfDestructing::destroyed = 0;
  auto* owner = new SelfDestructing;
  owner->timer.set(5, &SelfDestructing::fire, owner);
  StopAfter stop(50);
  multiplexer.run(false, true);
  EXPECT_EQ(SelfDestructing::destroyed, 1);
}

// A handler that arms another timer due at the scan's `now` sees it fire in the same scan.
struct Chain {
  Chain(Recorder& r) : rec(r) {}
  void first() {
    rec.note("first");
    second_timer.set(0, &Chain::second, this);
    later_timer.set(1, &Chain::later, this);
  }
  void second() { rec.note("second"); }
  void later() { rec.note("later"); }
  Recorder& rec;
  Timer first_timer, second_timer, later_timer;
};

TEST_F(TimerTest, EntryArmedDuringTheScanForNowFiresInTheSameScan) {
  Chain chain(rec);
  chain.first_timer.set(30, &Chain::first, &chain);
  StopAfter stop(100);
  multiplexer.run(false, true);
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"first@30", "second@30", "later@31"}));
  // first and second share one scan: only one poll between the stop timer and them.
}

struct Stopping {
  Stopping(Recorder& r, std::string n) : rec(r), name(std::move(n)) {}
  void on() {
    rec.note(name);
    multiplexer.terminate();
  }
  Recorder& rec;
  std::string name;
  Timer timer;
};

TEST_F(TimerTest, WaitsOverTwoHoursAreReportedAndPulledIn) {
  Stopping far(rec, "far");
  Named other(rec, "other");
  far.timer.set(3 * 3600 * 1000, &Stopping::on, &far);
  other.timer.set(4 * 3600 * 1000, &Named::on, &other);
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  std::string const err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err.substr(0, err.find("now = ")),
            "******** RUNTIME ERROR CONDITION *************Multiplexer::timers_schedule() "
            "invalid wait time detected!\n");
  EXPECT_NE(err.find("first = " + std::to_string(rec.start + 3 * 3600 * 1000) + "\ncount = 2\n"), std::string::npos)
      << err;
  // Every pending entry was moved to 1000 ms after the scan; equal deadlines keep their order.
  EXPECT_EQ(rec.fired, (std::vector<std::string>{"far@1000", "other@1000"}));
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{1000}));
}

struct SpecOwner {
  void update() { ++updates; }
  static constexpr TimerSpec<SpecOwner>::Spec TUpdatespec{&SpecOwner::update, 3000};
  TimerSpec<SpecOwner>::SpecTimer<&SpecOwner::TUpdatespec> timer;
  int updates = 0;
};

TEST_F(TimerTest, SpecTimerTakesPeriodAndMemberFromItsRecord) {
  SpecOwner owner;
  owner.timer.set(&owner);
  StopAfter stop(2999);
  multiplexer.run(false, true);
  EXPECT_EQ(owner.updates, 0);
  StopAfter stop2(1);
  multiplexer.run(false, true);
  EXPECT_EQ(owner.updates, 1);
}

TEST(Clock, TimevalArithmetic) {
  Mux::timeval a(1, 900000), b(2, 100);
  EXPECT_EQ(Mux::timevaldiff(a, b), 1000 + (100 - 900000) / 1000);
  EXPECT_EQ(Mux::timevaldiff(a, b), 101);
  EXPECT_EQ(Mux::timevaldiff(b, a), 0);
  EXPECT_EQ(Mux::timevaldiff(Mux::timeval(5, 10), Mux::timeval(5, 5)), 0);

  Mux::timeval sum;
  Mux::timevaladd2(a, Mux::timeval(0, 200000), sum);
  EXPECT_EQ(sum.tv_sec, 2);
  EXPECT_EQ(sum.tv_usec, 100000);
  Mux::timeval diff;
  Mux::timevalsub2(b, a, diff);
  EXPECT_EQ(diff.tv_sec, 0);
  EXPECT_EQ(diff.tv_usec, 100100);
  EXPECT_EQ(a.tv_sec, 1) << "the two-operand forms leave their inputs alone";

  Mux::timeval t;
  Mux::timevalset(t, 123456);
  EXPECT_EQ(t.tv_sec, 123);
  EXPECT_EQ(t.tv_usec, 456000);
  EXPECT_EQ(Mux::timevalcompare(a, b), -1);
  EXPECT_EQ(Mux::timevalcompare(b, a), 1);
  EXPECT_EQ(Mux::timevalcompare(a, a), 0);
  EXPECT_EQ(Mux::make_from_usec(2500001).tv_sec, 2);
  EXPECT_EQ(Mux::make_from_usec(2500001).tv_usec, 500001);
  EXPECT_EQ(Mux::make_from_msec(1234).tv_usec, 234000);
  EXPECT_TRUE(Mux::timeval().is_zero());
}

TEST(Clock, DeadlinesFollowTheMonotonicSourceAndTimeStampsTheWallClock) {
  FakeClock clock(5000);
  EXPECT_EQ(Mux::milliseconds(), 5000u);
  EXPECT_EQ(Mux::microseconds(), 5000000u);
  clock.advance_us(1500);
  EXPECT_EQ(Mux::milliseconds(), 5001u);
  Mux::timeval tv;
  Mux::gettimeval(&tv);
  EXPECT_EQ(tv.tv_sec, 1767225605);
  EXPECT_EQ(tv.tv_usec, 1500);
  EXPECT_EQ(Mux::seconds(), 1767225605);

  // A latch freezes both readings until it is cleared.
  Mux::mux_settimeofday();
  clock.advance_ms(700);
  EXPECT_EQ(Mux::milliseconds(), 5001u);
  Mux::mux_gettimeofday(&tv);
  EXPECT_EQ(tv.tv_usec, 1500);
  Mux::g_tv_time = Mux::timeval();
  EXPECT_EQ(Mux::milliseconds(), 5701u);
}

TEST(Clock, TimeStampText) {
  setenv("TZ", "UTC", 1);
  tzset();
  EXPECT_EQ(Mux::timevaltostring(Mux::timeval(1767225600, 42)), "2026-01-01 00:00:00.000042");
}

TEST(Clock, SystemStepDoesNotMoveDeadlines) {
  // Without the hook, milliseconds() comes from the monotonic clock, which a change of the
  // system time cannot step: consecutive readings never go back.
  unsigned const a = Mux::milliseconds();
  unsigned const b = Mux::milliseconds();
  EXPECT_LE(static_cast<int>(a - b), 0);
}

}  // namespace
