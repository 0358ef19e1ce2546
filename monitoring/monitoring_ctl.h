#pragma once
// The monitoring service as far as the server core needs it: bound last to the control
// server, it takes the controller's display command.

#include "foundation/ini_file.h"
#include "server/control_server.h"

class MonitoringCtl : public CtrlSrv::Service {
public:
  static MonitoringCtl& instance();

  // Reads its settings from the configuration file (also when the file did not open).
  void Configure(IniFile::File& file);

  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const& command) override;

private:
  MonitoringCtl() = default;
};
