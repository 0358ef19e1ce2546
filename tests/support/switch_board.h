#pragma once
// One stand-in with the switch, the watchdog, the tone, DSP, voice, RTP and mixer devices,
// the E1 drivers, the HDLC controller and the modem controller for a whole test program.
// HwMux opens "/dev/hal" once per process and keeps the descriptor (so do the tone and
// DSP services theirs), so the stand-in behind it must outlive every test; each test
// installs it and clears its request log. The HDLC controller sits beside the switch,
// whose connections carry its frames.

#include "boardsim/hal.h"
#include "boardsim/mcc.h"
#include "boardsim/mctl.h"
#include "boardsim/net.h"
#include "boardsim/sim.h"

namespace test {

BoardSim::Sim& switch_board();
BoardSim::Hal& switch_model();
BoardSim::Mcc& mcc_model();
// The DSP modems' control device on the same stand-in.
BoardSim::Mctl& modem_model();
// The host's HDLC network interfaces as the stand-in plays them.
BoardSim::Net& net_model();

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
