#pragma once
// One stand-in with the switch, the watchdog, the tone and DSP devices, the voice driver
// and the mixer for a whole test program. HwMux opens "/dev/hal" once per process and keeps the descriptor (so do
// the tone and DSP services theirs), so the stand-in behind it must outlive every test;
// each test installs it and clears its request log.

#include "boardsim/hal.h"
#include "boardsim/sim.h"

namespace test {

BoardSim::Sim& switch_board();
BoardSim::Hal& switch_model();

// Installs the shared stand-in behind Board::io() for the lifetime of the object, with
// an empty request log and no armed faults.
class SwitchBoardScope {
public:
  SwitchBoardScope();
  ~SwitchBoardScope();
  SwitchBoardScope(SwitchBoardScope const&) = delete;
  SwitchBoardScope& operator=(SwitchBoardScope const&) = delete;

private:
  Board::Io* m_previous;
};

}  // namespace test
