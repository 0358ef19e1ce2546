#pragma once
// The scene of the tests of the slots on the HDLC controller's channels: the T.38 relay's
// stand-in installed at its fixed path, server-sim running, a controller connected and
// the stand-in's control socket at hand. After the body every body the daemon sent must
// have decoded and SIGTERM must end it cleanly.

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace e2e {

struct ChannelScene {
  Daemon& daemon;
  Controller& c;
  test::BoardSimClient& board;
  test::Failures& f;
  int seq = 100;

  // Sends the command and waits for its answer: true for success.
  bool command(LGCP::Message const& m);
  // The stand-in's log of one request on one device is `expected`, line by line.
  void equal_log(std::string const& device, std::string const& request, std::vector<std::string> const& expected,
                 std::string const& what);
};

// "" when the body's checks passed, else what failed. `options` start the daemon.
std::string in_channel_scene(std::function<void(ChannelScene&)> const& body, DaemonOptions const& options = {});

}  // namespace e2e
