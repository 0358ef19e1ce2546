#include "server/trunk_status.h"

#include "schemas/acp.h"

LGCP::Signal TrunkStatusSignal(TrunkReport const& report) {
  LGCP::Signal signal;
  ACP::TrunkStatus& status = signal.select_trunkStatus();
  status.set_trunk(report.trunk);
  bool const known = report.state >= ACP::TrunkState::normal && report.state <= ACP::TrunkState::disabled;
  status.set_state(known ? static_cast<ACP::TrunkState::NamedNumber>(report.state) : ACP::TrunkState::unknown);
  status.set_slips(report.slips);
  status.set_lossBF(report.lossBF);
  status.set_lossCarrier(report.lossCarrier);
  status.set_lossAIS(report.lossAIS);
  status.set_lossRAI(report.lossRAI);
  status.set_clockMaster(false);
  status.set_type(report.type);
  return signal;
}
