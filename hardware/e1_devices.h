#pragma once
// The E1 trunks' two drivers: the maintenance device (synchronisation status and the
// transmit-clock mask) and the CAS device (channel-associated signalling per trunk and
// timeslot). Each is opened read-write and non-blocking at the first use that finds it
// openable, silently retried until then, and kept for the process.

#include <cstdint>

#include "foundation/board_requests.h"
#include "foundation/fd.h"

namespace Hardware {

class E1Maintenance {
public:
  E1Maintenance() = default;
  ~E1Maintenance();
  E1Maintenance(E1Maintenance const&) = delete;
  E1Maintenance& operator=(E1Maintenance const&) = delete;

  bool IsOpened();
  // Fills the record of `trunk` (zeroed first): true, or false with errno set.
  bool Status(unsigned trunk, Board::E1TrunkStatus& record);
  // True, or false with errno set.
  bool SetTransmitClock(std::uint32_t mask);

private:
  int m_fd = -1;
};

class CasDevice {
public:
  bool IsOpened() const { return m_fd.is_valid(); }
  // Opens the device if it is not open; true when it just opened.
  bool Open();
  Fd const& fd() const { return m_fd; }

  // Each returns the request's result: 0 or more, -1 on failure.
  int OpenTrunk(unsigned trunk);
  int CloseTrunk(unsigned trunk);
  int SetBits(Board::CasChannel& channel);
  int GetBits(Board::CasChannel& channel);
  int Configure(Board::CasConfigure& record);
  // Reads one record of changed received bits, asking for exactly its size: the bytes
  // read (the record is filled only when they are a whole one), or -1.
  long ReadChange(Board::CasChannel& channel);

private:
  Fd m_fd;
};

}  // namespace Hardware
