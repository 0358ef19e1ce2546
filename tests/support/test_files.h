#pragma once
// Small things many test folders need: golden files beside a test's source, and a packet
// pool with no buffer left.

#include <string>
#include <vector>

#include "foundation/packet.h"

namespace test {

// The file `name` in the folder "golden" beside the test source `source` (pass __FILE__);
// a missing file fails the current test.
std::string golden_file(char const* source, std::string const& name);

// Takes every buffer of the packet pool; they go back when the returned handles go.
std::vector<Packet> take_every_packet_buffer();

}  // namespace test
