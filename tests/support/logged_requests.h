#pragma once
// A stand-in's log of one request on one device, as the fields of each entry, a failed
// one ending in " -> <ERRNO>": {"output=5 input=1024", "mode=9 ... -> EINVAL"}.

#include <string>
#include <string_view>
#include <vector>

#include "boardsim/sim.h"

namespace test {

std::vector<std::string> logged_fields(BoardSim::Sim& sim, std::string_view device, std::string_view request);

}  // namespace test
