#pragma once
// The board-control commands and signals as the in-process and the daemon tests build
// and read them: trunk and clock configuration, CAS, the bus test, trunk status.

#include <string>

#include "schemas/lgcp.h"

namespace board_test {

// seq and slot: negative for absent.
LGCP::Message trunk_cfg(int seq, int trunk, LGCP::TrunkMode::NamedNumber mode);
LGCP::Message clock_cfg(int seq, LGCP::ClkSel0::NamedNumber select, LGCP::BExtEn::NamedNumber external, int source);

enum class Cas { open, close, set, get };
// An ioctl command `cas` on {trunk, timeslot}; `value` for open and set.
LGCP::Message cas(int seq, int slot, int trunk, int timeslot, Cas what, int value = 0);

enum class Bpc { read, write, disconnect };
LGCP::Message test_bpc(int seq, unsigned bus, int seed, Bpc mode, unsigned start, unsigned length);

bool is_signal(LGCP::Message const& m, int alternative);
// "{trunk, timeslot, rx, tx}" of a cas signal; "" for anything else.
std::string cas_text(LGCP::Message const& m);
// "<e1|bri> <trunk> <state> slips=.. lossBF=.. lossCarrier=.. lossAIS=.. lossRAI=.." of a
// trunkStatus signal (the state by name, or its number when it has none); "" else.
std::string trunk_text(LGCP::Message const& m);

}  // namespace board_test
