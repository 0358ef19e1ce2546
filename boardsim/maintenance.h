#pragma once
// The E1 framers' maintenance device, Board::kMaintenance: a trunk's synchronisation
// state and error counters, and the trunks' transmit-clock mask.
//
// Requests (foundation/board_requests.h), logged with these fields:
//   ioctl status   trunk=<n>  state=<n> slips=<n> lossBF=<n> lossCarrier=<n> ais=<n> rai=<n>
//                  (the second half: what the record comes back with)
//   ioctl tclk     value=0x<mask>   (the mask itself is the argument)
// A status record for a trunk above 3, or with any other byte not zero going in, is
// EINVAL; so is the mask passed by pointer. The status record passed by value is
// EFAULT, every other request ENOTTY.
//
// Control socket:
//   set maintenance <trunk> <state> <slips> <lossBF> <lossCarrier> <ais> <rai>
//                          what the trunk's status record says from now on (each any
//                          32-bit number; all 0 at first)
//   state maintenance      tclk=0x<mask>|-   (- while never set)

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "boardsim/model.h"
#include "foundation/board_requests.h"

namespace BoardSim {

class Maintenance : public Model {
public:
  static constexpr unsigned kTrunks = 4;

  Maintenance();

  std::optional<std::uint32_t> transmit_clock() const;

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  std::array<Board::E1TrunkStatus, kTrunks> m_status{};
  std::optional<std::uint32_t> m_transmit_clock;
};

}  // namespace BoardSim
