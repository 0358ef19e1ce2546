#pragma once
// The voice-processing DSP, Board::kDsp: per timeslot the functions VAD 0x1, SD 0x2, the
// two mutes 0x4 and 0x8, BSS 0x10, NG 0x80 and the tone filters 0x100, switched on and
// off by mask, each with the id of the enable that last covered it. The daemon reads
// 24-byte events {ts, id, type, 12 payload bytes}.
//
// Requests, logged by their names with these fields (decimal unless 0x):
//   ioctl DSPROC_CONFIGURE ts= kind=<VAD|SD|DELAYS|RX_GAIN|TONE_FILTER> then by kind:
//                            VAD voice= silence= energy=   (driver version 2)
//                            VAD words=<w8>,<w12>,<w16>    (any other version)
//                            DELAYS rx= tx=, RX_GAIN gain=<byte>,
//                            TONE_FILTER freq= en= dur= level=
//                          (another kind is logged kind=<n> and is EINVAL)
//   ioctl DSPROC_ENABLE    ts= id= mask=0x<hex>   (id 0, mask 0 or bits outside 0x19f: EINVAL)
//   ioctl DSPROC_DISABLE   ts= mask=0x<hex>       (a non-zero id word: EINVAL)
//   ioctl VAD_VERSION      value=0x0 result=<version>   (by value; a value but 0: EINVAL)
// A by-value request given a record is EINVAL, a record request given a value EFAULT,
// any other request ENOTTY.
//
// Control socket:
//   state dsp <ts>          ts=<ts> on=0x<mask> vad=<id> sd=<id> mute=<id> bss=<id> ng=<id>
//                           version=<n>
//   set dsp version <n>     the driver's VAD version (2 at start)
//   set dsp event <ts> <kind> ... [<id>]   queues one event on the oldest open:
//       vad <dir_mask> <rx> <tx>      type 0x1
//       sd <sd_rx>                    type 0x2
//       bss <score>                   type 0x10, the 32-bit float strtof reads (1.5, 3e38)
//       tone <freq> <presence>        type 0x100, presence a byte
//       flags <flags> <mask>          type 0x200
//     Words are 32-bit: decimal, 0x hex, or negative (-1 is 0xffffffff). The id defaults
//     to the last enable's covering the function (vad, sd, bss), else 0.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "boardsim/event_device.h"

namespace BoardSim {

class Dsproc : public EventDevice {
public:
  struct Timeslot {
    std::uint32_t on = 0;  // mask of the functions on
    std::uint32_t vad = 0, sd = 0, mute = 0, bss = 0, ng = 0;  // ids of the last enables
  };

  Dsproc();

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  // A configure's text depends on the VAD version set when it came: decoded at once.
  std::size_t record_size(unsigned long request) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  std::string state_text(std::uint32_t ts) const;
  Timeslot timeslot(std::uint32_t ts) const;
  Answer queue_event(std::vector<std::string> const& args);

  std::map<std::uint32_t, Timeslot> m_timeslots;
  std::uint32_t m_version = 2;
};

}  // namespace BoardSim
