// One mixer request through Mixer::mixer_ctl (Board::io(), the device opened and closed
// for the request) beside the bare system calls it stands for: open read-only with
// close-on-exec, ioctl, close. "/dev/mixer" is fixed, so the benchmark process moves
// into a mount namespace of its own with a private /dev, where "/dev/mixer" is the null
// device (character 1, 3): both sides pay the same driver, which refuses the request.
// Turns alternate in the same run; each side's figure is its best turn of five. A
// request must not allocate.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include "bench/allocation_count.h"
#include "foundation/board_requests.h"
#include "slots/mixer/mixer_ctl.h"
#include "tests/support/private_mounts.h"

namespace {

constexpr int kRequestsPerTurn = 20000;
constexpr char kMixer[] = "/dev/mixer";

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

// "" once "/dev/mixer" is the null device in a private /dev, else why not.
std::string const& mixer_device_problem() {
  static std::string const problem = []() -> std::string {
    if (!test::has_private_dev()) {
      if (std::string p = test::enter_private_mounts({}); !p.empty()) return p;
      if (std::string p = test::mount_private_dev(); !p.empty()) return p;
    }
    ::unlink(kMixer);
    if (::mknod(kMixer, S_IFCHR | 0666, makedev(1, 3)) == 0) return {};
    // Where device nodes cannot be made, the machine's null device bound over a file.
    int const target = ::open(kMixer, O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (target < 0) return failure("create /dev/mixer");
    ::close(target);
    if (::mount("/dev/null", kMixer, nullptr, MS_BIND, nullptr) != 0) return failure("bind /dev/null on /dev/mixer");
    return {};
  }();
  return problem;
}

void bare_request(Board::mix_slot* slot) {
  int const fd = ::open(kMixer, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  int const result = ::ioctl(fd, Board::MIX_TDM, slot);
  int const error = errno;
  ::close(fd);
  errno = error;
  benchmark::DoNotOptimize(result);
}

double ns_per_request(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::nano>(d).count() / kRequestsPerTurn;
}

void BM_MixerCtl(benchmark::State& state) {
  if (!mixer_device_problem().empty()) {
    state.SkipWithError(mixer_device_problem().c_str());
    return;
  }
  Board::mix_slot slot{3, 0, 4};
  if (Mixer::mixer_ctl(Board::MIX_TDM, &slot) != -1 || errno != ENOTTY) {
    state.SkipWithError("/dev/mixer is not the null device");
    return;
  }
  double best_ctl = 1e18, best_bare = 1e18;
  long allocations = 0;
  for (auto _ : state) {
    auto const t0 = std::chrono::steady_clock::now();
    long const before = allocation_count();
    for (int i = 0; i < kRequestsPerTurn; ++i) benchmark::DoNotOptimize(Mixer::mixer_ctl(Board::MIX_TDM, &slot));
    allocations += allocation_count() - before;
    auto const t1 = std::chrono::steady_clock::now();
    for (int i = 0; i < kRequestsPerTurn; ++i) bare_request(&slot);
    auto const t2 = std::chrono::steady_clock::now();
    best_ctl = std::min(best_ctl, ns_per_request(t1 - t0));
    best_bare = std::min(best_bare, ns_per_request(t2 - t1));
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  state.counters["mixer_ctl_ns"] = best_ctl;
  state.counters["bare_ns"] = best_bare;
  state.counters["x_bare"] = best_ctl / best_bare;
  state.counters["allocs_per_request"] =
      static_cast<double>(allocations) / (static_cast<double>(state.iterations()) * kRequestsPerTurn);
}
BENCHMARK(BM_MixerCtl)->UseManualTime()->Iterations(5);

}  // namespace
