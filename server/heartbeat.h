#pragma once
// Watches the controller for silence: every command restarts a 120-second timer, ping is
// answered here, and when the timer runs out the controller link is dropped. A
// controller that never sends a command is not timed out.

#include "foundation/timer.h"
#include "server/control_server.h"

class HeartBeatCtl : public CtrlSrv::Service {
public:
  static constexpr unsigned kTimeoutMs = 120000;

  // The daemon's one watch. Tests bind their own to a server of their own.
  static HeartBeatCtl& instance();
  HeartBeatCtl() = default;

  void OnConnect() override {}
  void OnDisconnect() override { m_timer.reset(); }
  bool OnCommand(LGCP::Command const& command) override;
  void ResetTimeOut();
  bool is_armed() const { return m_timer.is_running(); }

private:
  void OnHeartbeatTimeout(Timer*);

  Timer m_timer;
};
