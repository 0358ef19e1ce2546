#pragma once
// Checks the end-to-end scenes share: a command answered as expected, the stream signals
// of a slot, and requests of the stand-in in their order.

#include <string>
#include <vector>

#include "tests/e2e/controller.h"
#include "tests/support/own_process.h"

namespace e2e {

// Sends the command and checks that it is answered with success (cause < 0) or that error.
void answered(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what, int cause = -1);

// The next transmitter or receiver signal of `slot`, as "transmitter 8322", "receiver
// inactive", or "none".
std::string next_stream(Controller& c, int slot);

// Whether `wanted` shows in `lines` in this order, other lines between them allowed.
bool in_order(std::vector<std::string> const& lines, std::vector<std::string> const& wanted);

}  // namespace e2e
