#include "tests/support/logged_requests.h"

namespace test {

std::vector<std::string> logged_fields(BoardSim::Sim& sim, std::string_view device, std::string_view request) {
  std::vector<std::string> lines;
  for (BoardSim::Request const& r : sim.requests(device, request))
    lines.push_back(r.error ? r.fields + " -> " + BoardSim::errno_name(r.error) : r.fields);
  return lines;
}

}  // namespace test
