#pragma once
// The DSP modems' control device, Board::kModemControl. Modems 0..3 on timeslots
// 4096..4099 unless a test sets others. An open allocates at most one modem and holds
// it until every descriptor of the open is closed (dups and children's copies count).
//
// Requests (foundation/board_requests.h), logged with these names:
//   by value, answered with a result:
//     allocate      0: the lowest free modem's number (EBUSY when none is free; EINVAL
//                   when the open holds one already or the value is not 0)
//     get-timeslot  0: the open's modem's timeslot (EINVAL without one)
//     next-modem    n: the next modem number above n (its low 32 bits, signed), held or
//                   free; ENODEV after the last
//   by pointer, fields "modem=<m> ...", each on the open's own modem only:
//     set-ddm       modem=<m> mask=<0..7>
//     reset-dmp, answer, originate, originate-fax   modem=<m> arg=-1
//     set-dmp       modem=<m> offset=<o, 0 or more> value=<v>
// A modem not the open's, or a field outside these, is EINVAL; a pointer request by
// value EFAULT, a value request with a record EINVAL; every other code ENOTTY.
//
// Control socket:
//   state mctl   a line per modem:
//                modem=<n> ts=<ts> <free|held> mask=<m> dmp=<o>:<v>,...|- start=<what>|-
//                (an allocation clears mask, dmp and start; a release keeps them)
//   set mctl modems <count> [<first ts>]   replaces the modems (0..count-1, at most
//                256, on timeslots from <first ts>, default 4096, at most 2147483391);
//                refused while one is held

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class Mctl : public Model {
public:
  struct Modem {
    std::int32_t number = 0;
    std::uint32_t timeslot = 0;
    bool held = false;
    std::uint32_t mask = 0;
    std::map<std::int32_t, std::int32_t> dmp;  // by offset
    std::string start;                         // the last answer or call; empty for none
  };

  static constexpr unsigned kMaxModems = 256;
  static constexpr std::uint32_t kFirstTimeslot = 4096;
  static constexpr std::uint32_t kLastFirstTimeslot = 0x7fffffff - kMaxModems;

  Mctl();

  std::vector<Modem> modems() const;
  // False, changing nothing, while a modem is held, for more than kMaxModems or a first
  // timeslot above kLastFirstTimeslot.
  bool set_modems(unsigned count, std::uint32_t first_timeslot = kFirstTimeslot);

protected:
  std::unique_ptr<Open> make_open() override;
  void close(Open& open) override;
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::size_t record_size(unsigned long request) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  class ModemOpen;

  // Unlocked forms, for hooks that already hold the stand-in's lock.
  bool replace(unsigned count, std::uint32_t first_timeslot);
  Modem* find(std::int32_t number);

  std::vector<Modem> m_modems;
};

}  // namespace BoardSim
