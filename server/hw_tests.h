#pragma once
// The shared time-slot buses' test as a control-server service: `testBpc` writes a
// pseudo-random byte pattern to a range of a bus's timeslots and reads it back through
// the switch, checks a pattern that another party wrote with the same seed, or disables
// the range again. The pattern is the C library's random() after srandom(seed), the low
// 8 bits of each value, in ascending port order.

#include <ostream>

#include "server/control_server.h"

class HwTests : public CtrlSrv::Service {
public:
  // The daemon's one object.
  static HwTests& instance();
  HwTests() = default;

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const& command) override;
  void PutHeader(std::ostream& os) const { os << "bus " << m_bus << ": "; }

private:
  // Reads the pattern back; false, with the first mismatch logged, when it differs.
  bool Check(char const* failed, char const* expected, char const* read);
  void WriteTest();
  void Disable();

  int m_bus = 0;
  int m_first = 0;  // the first port tested
  int m_end = 0;    // one past the last
  int m_seed = 0;
};
