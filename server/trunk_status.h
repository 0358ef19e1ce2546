#pragma once
// The trunkStatus signal that the E1 and the BRI trunk services report, built from one
// trunk's values. A state that ACP::TrunkState cannot carry is reported as unknown:
// the signal would not encode and the report would be lost.

#include "schemas/lgcp.h"

struct TrunkReport {
  int trunk = 0;
  long state = ACP::TrunkState::normal;
  int slips = 0;
  int lossBF = 0;
  int lossCarrier = 0;
  int lossAIS = 0;
  int lossRAI = 0;
  ACP::TrunkType::NamedNumber type = ACP::TrunkType::e1;
};

// `name` empty and `clockMaster` false.
LGCP::Signal TrunkStatusSignal(TrunkReport const& report);
