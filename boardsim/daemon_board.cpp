#include "boardsim/daemon_board.h"

#include "boardsim/dsproc.h"
#include "boardsim/e1_cas.h"
#include "boardsim/hal.h"
#include "boardsim/maintenance.h"
#include "boardsim/mcc.h"
#include "boardsim/mctl.h"
#include "boardsim/mixer.h"
#include "boardsim/net.h"
#include "boardsim/rtp.h"
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
    Hal& hal = made->add<Hal>();
    made->add<Mcc>(hal);
    made->add<Tonec>();
    made->add<Dsproc>();
    made->add<Voice>();
    made->add<Maintenance>();
    made->add<E1Cas>();
    made->add<Mctl>();
    made->add<Rtp>();
    made->add<Mixer>();
    made->add<Net>();
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
