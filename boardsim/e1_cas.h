#pragma once
// The E1 trunks' channel-associated signalling, Board::kE1Cas. A trunk is opened and
// closed as a whole; each timeslot of an open trunk has its signalling switched on or
// off, bits it transmits and bits it receives (the low 4 of each byte). A change of
// received bits on a timeslot that is on comes to the daemon's oldest open as a
// 12-byte channel record {trunk, timeslot, rx, tx}.
//
// Requests (foundation/board_requests.h), logged with these fields:
//   ioctl open-trunk    value=0x<trunk>       (the trunk itself is the argument)
//   ioctl close-trunk   value=0x<trunk>
//   ioctl set-bits      trunk=<n> timeslot=<n> rx=0x<hh> tx=0x<hh>
//   ioctl get-bits      trunk=<n> timeslot=<n> rx=0x<hh> tx=0x<hh> got-rx=0x<hh> got-tx=0x<hh>
//   ioctl configure     trunk=<n> timeslot=<n> rx=0x<hh> tx=0x<hh> off=<n>
// EINVAL: a trunk above 3, a timeslot above 31, receive bits not 0 or transmit bits
// above 15 going in, padding not zero, `off` above 1, set-bits, get-bits or configure
// on a trunk that is not open; a trunk passed by pointer. A record passed by value is
// EFAULT, every other request ENOTTY. The device takes no writes; a read takes the
// next record.
//
// Control socket:
//   set e1-cas rx <trunk> <timeslot> <bits>   the timeslot receives <bits> (0..15)
//   state e1-cas <trunk> <timeslot>           open=<0|1> on=<0|1> rx=0x<hh> tx=0x<hh>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "boardsim/model.h"
#include "foundation/board_requests.h"

namespace BoardSim {

class E1Cas : public Model {
public:
  static constexpr unsigned kTrunks = 4;
  static constexpr unsigned kTimeslots = 32;

  struct Timeslot {
    bool on = false;
    std::uint8_t rx = 0;
    std::uint8_t tx = 0;
  };

  E1Cas();

  bool trunk_open(unsigned trunk) const;
  Timeslot timeslot(unsigned trunk, unsigned timeslot) const;

protected:
  int open(Open& open, int flags) override;
  void close(Open& open) override;
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  // EINVAL for a channel record the driver would refuse, else 0.
  int check(Board::CasChannel const& record) const;
  std::string state_text(unsigned trunk, unsigned timeslot) const;

  std::array<bool, kTrunks> m_open{};
  std::array<std::array<Timeslot, kTimeslots>, kTrunks> m_slots{};
  std::vector<Open*> m_opens;  // oldest first
};

}  // namespace BoardSim
