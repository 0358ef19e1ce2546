#pragma once
// The BRI trunk channels' line-interface chips as a control-server service: they come
// up when the service is made, report every channel's line state to the controller
// every 1000 ms while one is connected, and are switched off at exit. It takes no
// command.

#include "foundation/timer.h"
#include "hardware/spi_channels.h"
#include "server/control_server.h"

class spiCtrl : public CtrlSrv::Service, public Hardware::SpiChannels {
public:
  static constexpr unsigned kStatusPeriodMs = 1000;

  // The daemon's one object.
  static spiCtrl& instance();
  // Opens the device and brings up the channels.
  spiCtrl();
  // Disables every channel and drops the clock master when the device is open.
  ~spiCtrl() override;

  void OnConnect() override;
  void OnDisconnect() override { m_timer.reset(); }
  bool OnCommand(LGCP::Command const&) override { return false; }

  // One status pass: a trunkStatus signal for each channel 0..7, then the next pass.
  void status();

private:
  void on_spi_lost() override { m_timer.reset(); }

  Timer m_timer;
  // A slip is reported once per run of passes that see it, per channel.
  bool m_slip[kChannels] = {};
};
