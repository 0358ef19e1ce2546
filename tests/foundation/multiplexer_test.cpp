// The loop's pass: time-outs, dispatch, registration changes during a pass, deferred calls.

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/measure.h"
#include "foundation/multiplexer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"

namespace {

using test::FakeClock;
using test::SimulatedPoll;
using test::StopAfter;

struct Pipe {
  Pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) ADD_FAILURE() << "pipe";
    rd = Fd(fds[0]);
    wr = Fd(fds[1]);
  }
  void fill() { ASSERT_EQ(::write(wr.lowlevel_fd(), "x", 1), 1); }
  Fd rd, wr;
};

// A descriptor watcher that logs every dispatch as "name:revents".
struct Watcher {
  Watcher(std::vector<std::string>& l, std::string n) : log(l), name(std::move(n)) {
    event.Bind(name, &Watcher::on_event, this);
  }
  virtual ~Watcher() = default;
  virtual void on_event(int, short revents) {
    log.push_back(name + ":" + std::to_string(revents));
    if (action) action();
  }
  std::vector<std::string>& log;
  std::string name;
  std::function<void()> action;
  Pipe pipe;
  Event event;
};

class LoopTest : public ::testing::Test {
protected:
  FakeClock clock;
  SimulatedPoll poll{clock};
  std::vector<std::string> log;
};

TEST_F(LoopTest, EveryPolledHandlerIsDispatchedWhenAnyDescriptorIsReady) {
  Watcher a(log, "a"), b(log, "b"), c(log, "c");
  for (Watcher* w : {&a, &b, &c}) w->event.Schedule(w->pipe.rd, POLLIN);
  b.pipe.fill();
  b.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  // a got its (empty) events before b stopped the dispatch; c waits for a later run.
  EXPECT_EQ(log, (std::vector<std::string>{"a:0", "b:1"}));
  EXPECT_EQ(a.event.counter(), 0u) << "only dispatches with a requested event count";
  EXPECT_EQ(b.event.counter(), 1u);

  // The handler left undispatched by the stop is still polled by the next run.
  log.clear();
  b.action = nullptr;
  c.pipe.fill();
  c.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(poll.sizes().back(), 3u);
  EXPECT_EQ(log.back(), "c:1");
}

TEST_F(LoopTest, NoDispatchWhenPollTimesOut) {
  Watcher a(log, "a");
  a.event.Schedule(a.pipe.rd, POLLIN);
  StopAfter stop(2500);
  multiplexer.run(false, true);
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{2500}));
}

TEST_F(LoopTest, HandlerDetachedByAnEarlierCallbackIsNotDispatched) {
  Watcher a(log, "a"), b(log, "b"), c(log, "c");
  for (Watcher* w : {&a, &b, &c}) {
    w->event.Schedule(w->pipe.rd, POLLIN);
    w->pipe.fill();
  }
  a.action = [&] { b.event.Release(); };
  c.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1", "c:1"}));
}

TEST_F(LoopTest, HandlerMayDestroyItselfInsideItsCallback) {
  auto* a = new Watcher(log, "a");
  Watcher b(log, "b");
  a->event.Schedule(a->pipe.rd, POLLIN);
  b.event.Schedule(b.pipe.rd, POLLIN);
  a->pipe.fill();
  a->action = [a] { delete a; };
  b.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1", "b:0"}));
  EXPECT_EQ(multiplexer.polled_handlers().count(), 1u);
}

TEST_F(LoopTest, HandlerAttachedInsideACallbackIsPolledFromTheNextPass) {
  Watcher a(log, "a"), late(log, "late");
  a.event.Schedule(a.pipe.rd, POLLIN);
  a.pipe.fill();
  late.pipe.fill();
  int passes = 0;
  a.action = [&] {
    if (++passes == 1) late.event.Schedule(late.pipe.rd, POLLIN);
  };
  late.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"a:1", "a:1", "late:1"}));
  EXPECT_EQ(poll.sizes(), (std::vector<std::size_t>{1, 2}));
}

TEST_F(LoopTest, ReSchedulingInsideTheCallbackMovesTheHandlerToTheNextPass) {
  Watcher a(log, "a");
  Pipe other;
  a.event.Schedule(a.pipe.rd, POLLIN);
  a.pipe.fill();
  other.fill();
  a.action = [&] {
    if (log.size() == 1)
      a.event.Schedule(other.rd, POLLIN);
    else
      multiplexer.terminate();
  };
  testing::internal::CaptureStderr();
  multiplexer.run(false, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Mux: terminating...\n")
      << "re-scheduling never looks like a duplicate";
  EXPECT_EQ(log, (std::vector<std::string>{"a:1", "a:1"}));
  EXPECT_EQ(multiplexer.polled_handlers().count(), 1u);
}

// A deferred call that closes and releases a polled descriptor between collection and
// poll must not shift the events the other handlers see.
struct ReleaseBeforePoll {
  ReleaseBeforePoll(Event& e) : event(e) {
    dpc.Bind(this, &ReleaseBeforePoll::run);
    dpc.Activate();
  }
  void run() {
    if (++calls == 2) {  // the run just before poll
      event.Release();
      dpc.Deactivate();
    }
  }
  Event& event;
  Dpc dpc;
  int calls = 0;
};

TEST_F(LoopTest, ReleaseBetweenCollectionAndPollKeepsRecordsPaired) {
  Watcher a(log, "a"), b(log, "b"), c(log, "c");
  for (Watcher* w : {&a, &b, &c}) w->event.Schedule(w->pipe.rd, POLLIN);
  a.pipe.fill();  // a is ready, but released before poll
  c.pipe.fill();
  ReleaseBeforePoll release(a.event);
  c.action = [] { multiplexer.terminate(); };
  multiplexer.run(false, true);
  EXPECT_EQ(log, (std::vector<std::string>{"b:0", "c:1"}));
}

struct RawHandler : EventHandler {
  void shedule_event(pollfd& record) override {
    record.fd = -1;
    record.events = 0;
  }
  void svc_event(short) override {}
};

TEST_F(LoopTest, DuplicateAttachAndUnknownDetachAreReported) {
  Watcher a(log, "a");
  a.event.Schedule(a.pipe.rd, POLLIN);
  testing::internal::CaptureStderr();
  multiplexer.attach(&a.event);
  RawHandler raw;
  multiplexer.detach(&raw);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "duplicate multiplexer attach \"a\" ignored.\nindvalid Multiplexer::detach unknown\n");
  EXPECT_EQ(multiplexer.polled_handlers().count() + 0u, 0u);  // still only in the new list
  a.event.Release();
}

TEST_F(LoopTest, InterruptedPollEndsThePassOnly) {
  static int calls;
  calls = 0;
  multiplexer.set_poll_function([](pollfd*, nfds_t, int) {
    errno = EINTR;
    if (++calls == 3) multiplexer.terminate();
    return -1;
  });
  Watcher a(log, "a");
  a.event.Schedule(a.pipe.rd, POLLIN);
  a.pipe.fill();
  multiplexer.run(false, true);
  multiplexer.set_poll_function(nullptr);
  EXPECT_EQ(calls, 3);
  EXPECT_TRUE(log.empty());
}

TEST(LoopDeathTest, NothingToWaitForIsAHang) {
  EXPECT_DEATH(multiplexer.run(false, true), "multiplexer: system hang detected!!!");
}

TEST(LoopDeathTest, FailedPollAborts) {
  EXPECT_DEATH(
      {
        Pipe p;
        Event e;
        e.Schedule(p.rd, POLLIN);
        multiplexer.set_poll_function([](pollfd*, nfds_t, int) {
          errno = EBADF;
          return -1;
        });
        multiplexer.run(false, true);
      },
      "multiplexer poll failed: Bad file descriptor");
}

// Decision of this loop: a timer armed by a deferred call after the scan makes poll wait
// no longer than the timer, and a due one makes it return at once.
struct ArmInSecondRun {
  ArmInSecondRun(unsigned ms) : delay(ms) {
    dpc.Bind(this, &ArmInSecondRun::run);
    dpc.Activate();
  }
  void run() {
    if (++calls == 2) {
      timer.set(delay, &ArmInSecondRun::fire, this);
      dpc.Deactivate();
    }
  }
  void fire() { multiplexer.terminate(); }
  unsigned delay;
  Dpc dpc;
  Timer timer;
  int calls = 0;
};

TEST_F(LoopTest, TimerArmedJustBeforePollShortensTheWait) {
  ArmInSecondRun arm(300);
  multiplexer.run(false, true);  // no descriptor, no watchdog: not a hang
  EXPECT_EQ(poll.timeouts(), (std::vector<int>{300}));
}

TEST_F(LoopTest, DueTimerMakesPollReturnAtOnce) {
  ArmInSecondRun arm(0);
  Watcher a(log, "a");
  a.event.Schedule(a.pipe.rd, POLLIN);
  StopAfter stop(5000);
  multiplexer.run(false, true);
  EXPECT_EQ(poll.timeouts().front(), 0);
}

TEST_F(LoopTest, TimeCacheLatchesTheClockPerPass) {
  // With the cache, readings within a pass are the instant after poll.
  struct Probe {
    void tick(Timer* t) {
      readings.push_back(Mux::milliseconds());
      FakeClock::current()->advance_ms(7);  // work that takes time inside the pass
      readings.push_back(Mux::milliseconds());
      if (readings.size() < 4)
        t->set(10, &Probe::tick, this);
      else
        multiplexer.terminate();
    }
    std::vector<unsigned> readings;
    Timer timer;
  } probe;
  probe.timer.set(10, &Probe::tick, &probe);
  multiplexer.run(false, false);
  Mux::g_tv_time = Mux::timeval();
  ASSERT_EQ(probe.readings.size(), 4u);
  EXPECT_EQ(probe.readings[0], probe.readings[1]);
  EXPECT_EQ(probe.readings[2], probe.readings[3]);
}

// Deferred calls.

struct Calls {
  std::vector<std::string> log;
};

struct Deferred {
  Deferred() { dpc.Bind(this, &Deferred::run); }
  void run() {
    calls->log.push_back(name);
    if (action) action();
  }
  Calls* calls = nullptr;
  std::string name;
  std::function<void()> action;
  Dpc dpc;
};

class DpcTest : public LoopTest {
protected:
  DpcTest() {
    for (int i = 0; i < 3; ++i) {
      d[i].calls = &calls;
      d[i].name = std::string(1, char('a' + i));
    }
  }
  // Runs exactly one pass: a ready descriptor stops the loop when it is dispatched.
  void one_pass() {
    Watcher ready(log, "ready");
    ready.event.Schedule(ready.pipe.rd, POLLIN);
    ready.pipe.fill();
    ready.action = [] { multiplexer.terminate(); };
    multiplexer.run(false, true);
  }
  Calls calls;
  Deferred d[3];  // ascending addresses
};

TEST_F(DpcTest, RunTwicePerPassInAddressOrder) {
  d[2].dpc.Activate();
  d[0].dpc.Activate();
  d[1].dpc.Activate();
  d[1].dpc.Activate();  // once only
  one_pass();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"a", "b", "c", "a", "b", "c"}));
}

TEST_F(DpcTest, DeactivatedByAnEarlierCallDoesNotRunInThatRun) {
  d[0].dpc.Activate();
  d[2].dpc.Activate();
  d[0].action = [&] { d[2].dpc.Deactivate(); };
  one_pass();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"a", "a"}));
}

TEST_F(DpcTest, SelfDeactivationMakesAOneShotCall) {
  d[1].dpc.Activate();
  d[1].action = [&] { d[1].dpc.Deactivate(); };
  d[0].dpc.Deactivate();  // inactive: nothing happens
  one_pass();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"b"}));
  EXPECT_FALSE(d[1].dpc.IsActive());
}

TEST_F(DpcTest, ActivatedDuringARunFirstRunsInTheNextRun) {
  d[2].dpc.Activate();
  d[2].action = [&] {
    d[0].dpc.Activate();
    d[2].dpc.Deactivate();
  };
  d[0].action = [&] { d[0].dpc.Deactivate(); };
  one_pass();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"c", "a"}));
}

TEST_F(DpcTest, DestroyedInsideItsOwnCall) {
  auto* own = new Deferred;
  own->calls = &calls;
  own->name = "own";
  own->action = [own] { delete own; };
  own->dpc.Activate();
  one_pass();
  EXPECT_EQ(calls.log, (std::vector<std::string>{"own"}));
}

struct CountedHandler : DpcHandler {
  explicit CountedHandler(int& d) : deleted(d) {}
  ~CountedHandler() override { ++deleted; }
  void Invoke() override {}
  int& deleted;
};

TEST(Dpc, RebindingDeletesThePreviousHandler) {
  int deleted = 0;
  {
    Dpc dpc;
    dpc.Invoke();  // unbound: nothing
    dpc.Bind(new CountedHandler(deleted));
    dpc.Bind(new CountedHandler(deleted));
    EXPECT_EQ(deleted, 1);
    dpc.Activate();
  }
  EXPECT_EQ(deleted, 2);
  static int plain_calls;
  plain_calls = 0;
  Dpc plain;
  plain.Bind(+[] { ++plain_calls; });
  plain.Invoke();
  EXPECT_EQ(plain_calls, 1);
}

TEST(Measure, FreshPrintsZerosThenMinMaxLastCount) {
  FakeClock clock;
  Measure m;
  std::ostringstream fresh;
  fresh << std::hex << m;
  EXPECT_EQ(fresh.str(), "min=0 max=0 avg=0 counter=0");
  m.begin();
  clock.advance_us(250);
  m.end();
  m.begin();
  clock.advance_us(100);
  m.end();
  m.begin();
  clock.advance_us(180);
  m.end();
  std::ostringstream out;
  out << m;
  EXPECT_EQ(out.str(), "min=100 max=250 avg=180 counter=3");
}

}  // namespace
