// Arbitrary command lines into the stand-in's control protocol: every answer must end
// in exactly one "ok" or "error <text>" line, and no answer line may hold a line break
// that would split it for the client.

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "boardsim/control.h"
#include "boardsim/hal.h"
#include "boardsim/mctl.h"
#include "boardsim/sim.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

bool is_last(std::string const& line) { return line == "ok" || line.starts_with("error "); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  BoardSim::Sim sim(64);
  sim.add<BoardSim::Hal>();
  sim.add<BoardSim::Watchdog>(8);
  sim.add<BoardSim::Mctl>();
  // An open to deliver into; its events are dropped with it.
  int const hal = sim.open(Board::kHal, O_RDWR | O_NONBLOCK);
  check(hal >= 0);

  std::string_view input(reinterpret_cast<char const*>(data), size);
  while (!input.empty()) {
    std::size_t const end = std::min(input.find('\n'), input.size());
    std::vector<std::string> const answer = BoardSim::control_command(sim, input.substr(0, end));
    check(!answer.empty() && is_last(answer.back()));
    for (std::size_t i = 0; i < answer.size(); ++i) {
      check(answer[i].find('\n') == std::string::npos);
      check(i + 1 == answer.size() || !is_last(answer[i]));
    }
    input.remove_prefix(std::min(end + 1, input.size()));
  }
  ::close(hal);
  return 0;
}
