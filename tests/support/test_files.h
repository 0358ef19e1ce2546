#pragma once
// Small things many test folders need: golden files beside a test's source, a packet
// pool with no buffer left, and a process with (almost) no descriptor left.

#include <sys/resource.h>

#include <string>
#include <vector>

#include "foundation/packet.h"

namespace test {

// The file `name` in the folder "golden" beside the test source `source` (pass __FILE__);
// a missing file fails the current test.
std::string golden_file(char const* source, std::string const& name);

// Takes every buffer of the packet pool; they go back when the returned handles go.
std::vector<Packet> take_every_packet_buffer();

// Takes every free descriptor number but the `left` highest and lowers the limit above
// them: the process can open `left` more and no more. All goes back with the object.
class DescriptorsTaken {
public:
  explicit DescriptorsTaken(unsigned left = 0);
  ~DescriptorsTaken();
  DescriptorsTaken(DescriptorsTaken const&) = delete;
  DescriptorsTaken& operator=(DescriptorsTaken const&) = delete;

private:
  std::vector<int> m_taken;
  rlimit m_saved{};
};

}  // namespace test
