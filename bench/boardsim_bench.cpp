// One switch request through the board stand-in, as server-sim's refresh sends 256 of
// them on every loop pass, beside what a bare exchange of the same size costs on the
// kind of descriptor the stand-in hands out.

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "boardsim/hal.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace {

void BM_StandInSwitchDisable(benchmark::State& state) {
  BoardSim::Sim sim;
  sim.add<BoardSim::Hal>();
  int const fd = sim.open(Board::kHal, O_RDWR);
  Board::MuxDisable record{8192};
  for (auto _ : state) {
    record.output = 8192 + (record.output + 1) % 2048;
    benchmark::DoNotOptimize(sim.ioctl(fd, Board::HAL_MUX_DISABLE, &record));
  }
  ::close(fd);
}
BENCHMARK(BM_StandInSwitchDisable);

// The record handed over and back on an AF_UNIX SOCK_SEQPACKET pair: a driver request's
// round trip without a driver.
void BM_BareSocketPairExchange(benchmark::State& state) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Board::MuxDisable record{8192};
  for (auto _ : state) {
    benchmark::DoNotOptimize(::send(ends[0], &record, sizeof record, 0));
    benchmark::DoNotOptimize(::recv(ends[1], &record, sizeof record, 0));
  }
  ::close(ends[0]);
  ::close(ends[1]);
}
BENCHMARK(BM_BareSocketPairExchange);

// One ioctl on such a socket, the least a request through the system costs.
void BM_BareSocketIoctl(benchmark::State& state) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  int queued = 0;
  for (auto _ : state) benchmark::DoNotOptimize(::ioctl(ends[1], FIONREAD, &queued));
  ::close(ends[0]);
  ::close(ends[1]);
}
BENCHMARK(BM_BareSocketIoctl);

}  // namespace
