#pragma once
// The conference mixer, Board::kMixer: units, each with a number (dev_no), a count of
// TDM channels, the number of inputs a sum holds and the timeslot of its first channel.
// Every channel has a sum: the channels added to it, each at a gain, in the order added.
// The daemon opens the device for each request; no open carries events.
//
// Requests, logged by their names with these fields (decimal):
//   ioctl MIX_UNIT_INFO dev_no=<in> got=<dev_no> tdm_channels=<n> mixer_inputs=<n>
//                        the unit of the next higher dev_no (the lowest for -1; the
//                        third word 0), ENODEV after the last
//   ioctl MIX_TDM       dev_no= type= number= result=<first timeslot + number>
//   ioctl MIX_RX_CLEAR  dev_no= type= number=      empties the sum
//   ioctl MIX_RX_ADD    rx=<d>/<t>/<n> tx=<d>/<t>/<n> gain=<g>
//                        adds tx at gain to rx's sum; a tx there already takes the new
//                        gain; a sum of mixer_inputs links is full: ENOSPC
//   ioctl MIX_RX_REMOVE rx=<d>/<t>/<n> tx=<d>/<t>/<n> gain=<g>
//                        removes tx from rx's sum; not there: ENOENT
// An unknown unit, a type other than 0, a number outside the unit, or rx and tx on two
// units: EINVAL. Given a value instead of a record: EFAULT; any other request ENOTTY.
//
// Control socket:
//   set mixer unit <dev_no> <tdm_channels> <mixer_inputs> <first timeslot>
//                             adds the unit, or replaces it; its sums start empty
//   set mixer remove <dev_no>
//   set mixer repeat on|off   on: MIX_UNIT_INFO answers the lowest unit every time
//   state mixer <dev_no> <channel>
//                             "sum 3/4: 1@100 2@-5": the channels of the sum, at their gains

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class Mixer : public Model {
public:
  struct Link {
    std::int32_t tx;
    std::int32_t gain;
  };
  struct Unit {
    std::int32_t tdm_channels = 0;
    std::int32_t mixer_inputs = 0;
    std::int32_t first_timeslot = 0;
    std::map<std::int32_t, std::vector<Link>> sums;  // by channel; empty ones absent
  };

  Mixer();

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  // The unit of a channel the daemon names, or null when the driver would refuse it.
  Unit* unit_of(std::int32_t dev_no, std::int32_t type, std::int32_t number);
  int unit_info(void* arg);
  int edit_sum(unsigned long request, void* arg);
  Answer set(std::vector<std::string> const& args);

  std::map<std::int32_t, Unit> m_units;
  bool m_repeat = false;
};

}  // namespace BoardSim
