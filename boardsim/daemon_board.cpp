#include "boardsim/daemon_board.h"

#include "boardsim/dsproc.h"
#include "boardsim/hal.h"
#include "boardsim/mixer.h"
#include "boardsim/server.h"
#include "boardsim/sim.h"
#include "boardsim/tonec.h"
#include "boardsim/voice.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"

namespace BoardSim {

Sim& daemon_sim() {
  // Never destroyed: the daemon's own static objects may reach the board while they go.
  static Sim* const sim = [] {
    auto* const made = new Sim;
    made->add<Watchdog>();
    made->add<Hal>();
    made->add<Tonec>();
    made->add<Dsproc>();
    made->add<Voice>();
    made->add<Mixer>();
    Board::install(made);
    return made;
  }();
  return *sim;
}

namespace {
[[maybe_unused]] Sim& g_installed = daemon_sim();
}  // namespace

std::unique_ptr<Server> start_for_daemon() { return Server::start(daemon_sim()); }

}  // namespace BoardSim
