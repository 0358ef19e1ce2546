#pragma once
// Clock control as a control-server service: the board runs on its free-running clock
// whenever a controller connects or goes, and on the source that `clockCfg` asks for.
// "--disable-clock" turns it off for the run: the device is then never opened and
// `clockCfg` is refused.

#include <ostream>

#include "hardware/clock_source.h"
#include "server/control_server.h"

class BusCtl : public CtrlSrv::Service {
public:
  // The daemon's one object.
  static BusCtl& instance();
  BusCtl() = default;

  void DisableControl();

  void OnConnect() override { DefaultClock(); }
  void OnDisconnect() override { DefaultClock(); }
  bool OnCommand(LGCP::Command const& command) override;
  void PutHeader(std::ostream& os) const { os << "clkctl: "; }

private:
  bool IsOpened();
  void DefaultClock();
  void SetClockSource(LGCP::ClockCfg const& config);
  void Select(unsigned source);

  Hardware::ClockSource m_device;
  bool m_enabled = true;
};
