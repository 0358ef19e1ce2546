// One pass of the loop with N idle descriptors and one ready descriptor, beside a raw
// poll() loop over the same descriptors; and arming and firing of 10,000 pending timers.
// Steady passes must not allocate: every operator new is counted.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <iostream>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "bench/allocation_count.h"
#include "foundation/clock.h"
#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"

namespace {

void raise_descriptor_limit() {
  rlimit limit;
  ::getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  ::setrlimit(RLIMIT_NOFILE, &limit);
}

// N eventfds that never become readable and one that always is.
struct Descriptors {
  explicit Descriptors(int idle) {
    raise_descriptor_limit();
    for (int i = 0; i < idle; ++i) fds.emplace_back(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    fds.emplace_back(::eventfd(1, EFD_CLOEXEC | EFD_NONBLOCK));
  }
  std::vector<Fd> fds;
};

struct Idle {
  void on_event(int, short) {}
};

struct Ready {
  void on_event(int, short revents) {
    if (!(revents & POLLIN)) return;
    if (steady_from < 0 && passes == 2) steady_from = allocation_count();
    ++passes;
    if (!state->KeepRunning()) multiplexer.terminate();
  }
  benchmark::State* state = nullptr;
  long passes = 0;
  long steady_from = -1;
};

void BM_LoopPass(benchmark::State& state) {
  Descriptors d(static_cast<int>(state.range(0)));
  Idle idle;
  Ready ready{&state};
  std::vector<Event> events(d.fds.size());
  for (std::size_t i = 0; i + 1 < d.fds.size(); ++i) {
    events[i].Bind("Idle::on_event", &Idle::on_event, &idle);
    events[i].Schedule(d.fds[i], POLLIN);
  }
  events.back().Bind("Ready::on_event", &Ready::on_event, &ready);
  events.back().Schedule(d.fds.back(), POLLIN);

  multiplexer.run(false, true);
  long const allocations = allocation_count() - ready.steady_from;
  state.counters["allocs_per_pass"] =
      benchmark::Counter(static_cast<double>(allocations) / static_cast<double>(std::max(1L, ready.passes - 2)));
}

using RawHandler = void (*)(int, short);
void raw_idle(int, short) {}
void raw_ready(int, short) {}

void BM_RawPoll(benchmark::State& state) {
  Descriptors d(static_cast<int>(state.range(0)));
  std::vector<pollfd> records(d.fds.size());
  std::vector<RawHandler> handlers(d.fds.size(), &raw_idle);
  handlers.back() = &raw_ready;
  for (std::size_t i = 0; i < d.fds.size(); ++i) records[i] = {d.fds[i].lowlevel_fd(), POLLIN, 0};
  for (auto _ : state) {
    int const n = ::poll(records.data(), records.size(), -1);
    if (n <= 0) state.SkipWithError("poll");
    for (std::size_t i = 0; i < records.size(); ++i)
      if (records[i].revents) handlers[i](records[i].fd, records[i].revents);
  }
}

BENCHMARK(BM_LoopPass)->Arg(16)->Arg(256)->Arg(1024);
BENCHMARK(BM_RawPoll)->Arg(16)->Arg(256)->Arg(1024);

// Simulated time for the timer benchmarks: poll never sleeps, it moves the clock instead.
std::uint64_t g_now_us = 0;
std::uint64_t fake_monotonic() { return g_now_us; }
void fake_wall(::timeval* tv) {
  tv->tv_sec = static_cast<time_t>(g_now_us / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(g_now_us % 1000000);
}
Mux::ClockSource const g_fake_clock{&fake_wall, &fake_monotonic};
int advancing_poll(pollfd*, nfds_t, int timeout_ms) {
  if (timeout_ms > 0) g_now_us += std::uint64_t(timeout_ms) * 1000;
  return 0;
}

constexpr int kTimers = 10000;

struct Owner {
  void fire() {
    if (++fired == kTimers) multiplexer.terminate();
  }
  int fired = 0;
};

// Arms 10,000 timers with the given delays, then runs the loop until all have fired.
void arm_and_fire(benchmark::State& state, std::vector<unsigned> const& delays) {
  Mux::ClockSource const* previous_clock = Mux::set_clock_source(&g_fake_clock);
  auto previous_poll = multiplexer.set_poll_function(&advancing_poll);
  std::vector<Timer> timers(kTimers);
  for (auto _ : state) {
    Owner owner;
    for (int i = 0; i < kTimers; ++i) timers[i].set(delays[i], &Owner::fire, &owner);
    multiplexer.run(false, true);
  }
  state.SetItemsProcessed(state.iterations() * kTimers);
  multiplexer.set_poll_function(previous_poll);
  Mux::set_clock_source(previous_clock);
}

void BM_TimersAscending(benchmark::State& state) {
  std::vector<unsigned> delays(kTimers);
  for (int i = 0; i < kTimers; ++i) delays[i] = static_cast<unsigned>(i / 4);  // groups of equal deadlines
  arm_and_fire(state, delays);
}

void BM_TimersRandom(benchmark::State& state) {
  std::vector<unsigned> delays(kTimers);
  std::mt19937 random(42);
  for (unsigned& d : delays) d = random() % 60000;
  arm_and_fire(state, delays);
}

BENCHMARK(BM_TimersAscending)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_TimersRandom)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  std::clog.rdbuf(nullptr);  // the loop's "terminating" line after every run
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
