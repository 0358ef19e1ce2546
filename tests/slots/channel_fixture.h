#pragma once
// The slot table behind a control server in the test process, its controller at the end
// of a socket pair, with the shared stand-in (switch and HDLC controller) behind the
// devices: for the slots on the HDLC controller's channels. ChannelFixture runs it on
// simulated time; a harness of its own runs on the real clock.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "server/control_server.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/channel_commands.h"
#include "tests/server/controller_end.h"
#include "tests/support/board_fixture.h"
#include "tests/support/switch_board.h"

namespace test {

class ChannelHarness {
public:
  using Messages = std::vector<LGCP::Message>;

  ChannelHarness();
  ~ChannelHarness();
  ChannelHarness(ChannelHarness const&) = delete;
  ChannelHarness& operator=(ChannelHarness const&) = delete;

  // Sends the command and runs the loop until its answer came; true for success. The
  // signals that came with it are kept.
  bool command(LGCP::Message const& message);
  // The error cause of the command's answer: -1 for success, -2 when none came.
  int answer(LGCP::Message const& message);
  // Runs the loop for `ms` of loop time and keeps what arrived.
  void run(unsigned ms);
  // Runs the loop on the real clock until a kept signal matches `match` (it stays
  // kept), for at most `ms`; whether one did.
  bool wait_for(std::function<bool(LGCP::Message const&)> const& match, unsigned ms);
  // Takes the kept signals that `match` accepts, in order.
  Messages take(std::function<bool(LGCP::Message const&)> const& match);
  // The kept signals of slot `slot` that carry `hdlcPackages`, taken.
  std::vector<std::vector<std::string>> batches(int slot);
  // The bytes of the kept `userData` signals of slot `slot`, taken.
  std::vector<std::string> received_data(int slot);
  // The port of the HDLC controller's channel allocated last (-1 when none).
  static int last_port();
  // Queues a frame on the stand-in's channel of `port`.
  static void inject(int port, std::string const& bytes);
  // Fields of the stand-in's log entries of one request, errors shown as " -> ERRNO".
  static std::vector<std::string> logged(std::string const& device, std::string const& request);
  // Bytes from hexadecimal digits, spaces allowed: "12 34 00".
  static std::string bytes(std::string const& hex);

  StreamCapture streams;
  SwitchBoardScope board;
  DiagCapture diag;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  test_server::ConnectCounter watch;
  Messages kept;
  int seq = 0;
};

struct SimulatedTime {
  FakeClock clock;
  SimulatedPoll poll{clock};
};

// The time comes first and goes last.
class ChannelFixture : public ::testing::Test, protected SimulatedTime, protected ChannelHarness {};

}  // namespace test
