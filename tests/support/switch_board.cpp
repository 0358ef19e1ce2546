#include "tests/support/switch_board.h"

#include "boardsim/watchdog.h"
#include "foundation/board_io.h"

namespace test {

namespace {

struct Shared {
  BoardSim::Sim sim;
  BoardSim::Hal* hal;
  BoardSim::Mctl* mctl;
  Shared() : hal(&sim.add<BoardSim::Hal>()), mctl(&sim.add<BoardSim::Mctl>()) { sim.add<BoardSim::Watchdog>(); }
};

// Never destroyed: HwMux's descriptor belongs to it until the process ends.
Shared& shared() {
  static Shared* const board = new Shared;
  return *board;
}

}  // namespace

BoardSim::Sim& switch_board() { return shared().sim; }
BoardSim::Hal& switch_model() { return *shared().hal; }
BoardSim::Mctl& modem_model() { return *shared().mctl; }

SwitchBoardScope::SwitchBoardScope() : m_previous(Board::install(&switch_board())) {
  switch_board().clear_requests();
  switch_board().clear_faults();
}

SwitchBoardScope::~SwitchBoardScope() {
  switch_board().clear_faults();
  Board::install(m_previous);
}

}  // namespace test
