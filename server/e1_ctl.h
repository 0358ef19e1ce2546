#pragma once
// The board's four E1 trunks as a control-server service: their synchronisation status
// goes to the controller at each connection and every 1000 ms from the first connection
// on, `trunkCfg` sets their transmit-clock mask, and the `ioctl` commands without a
// slot drive channel-associated signalling per trunk and timeslot, whose received-bit
// changes come back as `cas` signals.

#include <cstdint>
#include <ostream>

#include "foundation/event.h"
#include "foundation/timer.h"
#include "hardware/e1_devices.h"
#include "server/control_server.h"

class E1Ctl : public CtrlSrv::Service {
public:
  static constexpr unsigned kTrunks = 4;
  static constexpr unsigned kStatusPeriodMs = 1000;

  // The daemon's one object.
  static E1Ctl& instance();
  E1Ctl() = default;

  void OnConnect() override;
  // The status timer goes on without a controller.
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const& command) override;
  void PutHeader(std::ostream& os) const { os << "E1: "; }

private:
  void ReportStatus();
  void OnStatusTimer();
  void SendTransmitClock();
  void TrunkConfig(LGCP::TrunkCfg const& config);
  // Opens the CAS device if it is not open; true when it is open.
  bool CasOpened();
  void OnCasEvent(int fd, short revents);
  void Cas(LGCP::CasCommand const& command);
  void CasOpen(unsigned trunk, int timeslot, int bits);
  void CasClose(unsigned trunk, int timeslot);
  // Reads the timeslot's bits and reports them, or the failed read.
  void ReportBits(unsigned trunk, int timeslot);
  void SendCas(int trunk, int timeslot, int rx, int tx);

  Hardware::E1Maintenance m_maintenance;
  Timer m_status;
  Hardware::CasDevice m_cas;
  Event m_cas_event;
  std::uint32_t m_cas_open[kTrunks] = {};
  std::uint32_t m_transmit_clock = 0;  // bit n: trunk n
};
