// One switch request through the board stand-in, as server-sim's refresh sends 128 of
// them on every loop pass.

#include <benchmark/benchmark.h>

#include <fcntl.h>
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

}  // namespace
