#include "server/heartbeat.h"

#include <iostream>

namespace {
constexpr int kPing = 12;  // alternative of LGCP::Command
}

HeartBeatCtl& HeartBeatCtl::instance() {
  static HeartBeatCtl heartbeat;
  return heartbeat;
}

bool HeartBeatCtl::OnCommand(LGCP::Command const& command) {
  ResetTimeOut();
  if (command.currentSelection() != kPing) return false;
  Success();
  return true;
}

void HeartBeatCtl::ResetTimeOut() { m_timer.set(kTimeoutMs, &HeartBeatCtl::OnHeartbeatTimeout, this); }

void HeartBeatCtl::OnHeartbeatTimeout(Timer*) {
  std::clog << "heartbeat: " << "heartbeat timeout!!!" << std::endl;
  // The server it is bound to: ctrlServer in the daemon.
  if (CtrlSrv::Server* const bound = server()) bound->OnHeartbeatTimeout();
}
