#pragma once
// The tone DSP, Board::kDtmf: per timeslot a DTMF detector with its receiver id, an echo
// canceller (LMS), DTMF rejection, an IVA detector and a tone generator. The daemon
// opens it read-only and reads 16-byte detector events {code, ts, timestamp, id}.
//
// Requests, logged by their names with these fields (decimal):
//   ioctl DTMF_CONFIGURE_DETECTOR ts= twist= ratio= silence= noise=
//   ioctl DTMF_ENABLE_DETECTOR    ts= id=                    (id 0: EINVAL)
//   ioctl DTMF_DIAL               ts= f1= f2= a1= a2=
//   ioctl IVA_CONFIGURE_DETECTOR  ts= level=                 (signed)
//   ioctl SELCAL_DIAL             ts= amp= signs="...."      (the 4 signs as a C literal;
//                                                             non-zero last two bytes: EINVAL)
//   ioctl DTMF_DISABLE_DETECTOR, CHANNEL_LMS_ON, CHANNEL_LMS_OFF, DTMF_REJECTION_ENABLE,
//         DTMF_REJECTION_DISABLE, IVA_DETECTOR_ENABLE, IVA_DETECTOR_DISABLE
//                                 value=0x<ts>               (by value)
// A by-value request given a record is EINVAL, a record request given a value EFAULT,
// any other request ENOTTY. Requests on the read-only open are served.
//
// Control socket:
//   state dtmf <ts>    ts=<ts> detector=<on|off> id=<id> lms=<on|off> reject=<on|off>
//                      iva=<on|off> tone=<f1>/<f2>/<a1>/<a2>        (tone: the last DTMF_DIAL)
//   set dtmf event <ts> <code> <timestamp> [<id>]
//                      queues the event {code, ts, timestamp, id} on the oldest open;
//                      the id defaults to the last successful enable's on ts (0 if none).
//                      Words are 32-bit: decimal, 0x hex, or negative (-1 is 0xffffffff).

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "boardsim/event_device.h"

namespace BoardSim {

class Tonec : public EventDevice {
public:
  struct Timeslot {
    bool detector = false;
    std::uint32_t id = 0;  // the last successful enable's
    bool lms = false;
    bool reject = false;
    bool iva = false;
    std::uint16_t tone[4] = {};  // f1, f2, a1, a2 of the last DTMF_DIAL
  };

  Tonec();

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  std::string state_text(std::uint32_t ts) const;
  Answer queue_event(std::vector<std::string> const& args);

  std::map<std::uint32_t, Timeslot> m_timeslots;
};

}  // namespace BoardSim
