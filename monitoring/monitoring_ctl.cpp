#include "monitoring/monitoring_ctl.h"

namespace {
constexpr int kDisplay = 13;  // alternative of LGCP::Command
}

MonitoringCtl& MonitoringCtl::instance() {
  static MonitoringCtl monitoring;
  return monitoring;
}

void MonitoringCtl::Configure(IniFile::File&) {}

bool MonitoringCtl::OnCommand(LGCP::Command const& command) {
  if (command.currentSelection() != kDisplay) return false;
  Success();
  return true;
}
