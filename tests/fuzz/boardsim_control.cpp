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
#include "boardsim/dsproc.h"
#include "boardsim/e1_cas.h"
#include "boardsim/hal.h"
#include "boardsim/maintenance.h"
#include "boardsim/mcc.h"
#include "boardsim/mctl.h"
#include "boardsim/mixer.h"
#include "boardsim/net.h"
#include "boardsim/rtp.h"
#include "boardsim/sim.h"
#include "boardsim/tonec.h"
#include "boardsim/voice.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

bool is_last(std::string const& line) { return line == "ok" || line.starts_with("error "); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  BoardSim::Sim sim(64);
  sim.add<BoardSim::Mcc>(sim.add<BoardSim::Hal>());
  sim.add<BoardSim::Watchdog>(8);
  sim.add<BoardSim::Mctl>();
  sim.add<BoardSim::Net>();
  // An open to deliver into; its events are dropped with it.
  int const hal = sim.open(Board::kHal, O_RDWR | O_NONBLOCK);
  check(hal >= 0);
  // The tone and DSP models, each with an open, so that set, state and deliver reach them.
  sim.add<BoardSim::Tonec>();
  sim.add<BoardSim::Dsproc>();
  int const dtmf = sim.open(Board::kDtmf, O_RDONLY | O_NONBLOCK);
  int const dsp = sim.open(Board::kDsp, O_RDWR | O_NONBLOCK);
  check(dtmf >= 0 && dsp >= 0);
  sim.add<BoardSim::Voice>();
  int const voice = sim.open(Board::kVoice, O_RDONLY);
  check(voice >= 0);
  // A channel on port 1024, for injected frames to reach.
  int const mcc = sim.open(Board::kMccControl, O_RDWR | O_NONBLOCK);
  Board::MccAllocate channel{0, 512, 0, 1, 1};
  check(mcc >= 0 && sim.ioctl(mcc, Board::MCC_ALLOCATE, &channel) == 0);
  // Bytes written on it, for "state mcc/ctl 1024 data" to read back.
  check(sim.write(mcc, "voice", 5) == 5);
  sim.add<BoardSim::Maintenance>();
  sim.add<BoardSim::E1Cas>();
  int const maintenance = sim.open(Board::kMaintenance, O_RDWR | O_NONBLOCK);
  int const cas = sim.open(Board::kE1Cas, O_RDWR | O_NONBLOCK);
  check(maintenance >= 0 && cas >= 0);
  // The RTP model with an open that holds a channel, so that its events have a target.
  sim.add<BoardSim::Rtp>();
  int const rtp = sim.open(Board::kRtp, O_RDONLY);
  Board::rtp_connection_params session{};
  Board::rtp_channel_info rtp_channel{-1, -1, -1, 0};
  check(rtp >= 0 && sim.ioctl(rtp, Board::RTP_BEGIN_SESSION, &session) == 0 &&
        sim.ioctl(rtp, Board::RTP_ADD_CHANNEL, &rtp_channel) == 0);
  sim.add<BoardSim::Mixer>();
  int const mixer = sim.open(Board::kMixer, O_RDONLY);
  check(mixer >= 0);

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
  ::close(mcc);
  ::close(hal);
  ::close(dtmf);
  ::close(dsp);
  ::close(voice);
  ::close(maintenance);
  ::close(cas);
  ::close(rtp);
  ::close(mixer);
  return 0;
}
