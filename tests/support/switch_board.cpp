#include "tests/support/switch_board.h"

#include "boardsim/dsproc.h"
#include "boardsim/e1_cas.h"
#include "boardsim/maintenance.h"
#include "boardsim/mixer.h"
#include "boardsim/rtp.h"
#include "boardsim/tonec.h"
#include "boardsim/voice.h"
#include "boardsim/watchdog.h"
#include "foundation/board_io.h"

namespace test {

namespace {

struct Shared {
  BoardSim::Sim sim;
  BoardSim::Hal* hal;
  BoardSim::Mcc* mcc;
  BoardSim::Mctl* mctl;
  BoardSim::Net* net;
  Shared()
      : hal(&sim.add<BoardSim::Hal>()),
        mcc(&sim.add<BoardSim::Mcc>(*hal)),
        mctl(&sim.add<BoardSim::Mctl>()),
        net(&sim.add<BoardSim::Net>()) {
    sim.add<BoardSim::Watchdog>();
    // The tone and DSP services also keep their devices for the whole process.
    sim.add<BoardSim::Tonec>();
    sim.add<BoardSim::Dsproc>();
    sim.add<BoardSim::Voice>();
    sim.add<BoardSim::Maintenance>();
    sim.add<BoardSim::E1Cas>();
    sim.add<BoardSim::Rtp>();
    // The mixer units, for the mixer slots made in process.
    sim.add<BoardSim::Mixer>();
  }
};

// Never destroyed: HwMux's descriptor belongs to it until the process ends.
Shared& shared() {
  static Shared* const board = new Shared;
  return *board;
}

}  // namespace

BoardSim::Sim& switch_board() { return shared().sim; }
BoardSim::Hal& switch_model() { return *shared().hal; }
BoardSim::Mcc& mcc_model() { return *shared().mcc; }
BoardSim::Mctl& modem_model() { return *shared().mctl; }
BoardSim::Net& net_model() { return *shared().net; }

SwitchBoardScope::SwitchBoardScope() : m_previous(Board::install(&switch_board())) {
  switch_board().clear_requests();
  switch_board().clear_faults();
}

SwitchBoardScope::~SwitchBoardScope() {
  switch_board().clear_faults();
  Board::install(m_previous);
}

}  // namespace test
