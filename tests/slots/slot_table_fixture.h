#pragma once
// The slot table bound to a control server inside the test process, the controller's end
// of its link, simulated time, captured streams and the shared switch stand-in.

#include <gtest/gtest.h>

#include <chrono>

#include "server/control_server.h"
#include "server/slots.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/controller_end.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/switch_board.h"

namespace test {

// The scene itself, for tests that are no GoogleTest fixture (a forked child's, say).
struct SlotTable {
  SlotTable() {
    Slots::instance().set_release_pause(std::chrono::milliseconds(0));
    server.Bind(&watch);
    server.Bind(&Slots::instance());
    server.Activate(controller.link());
    test::run_until([&] { return watch.connects == 1; }, 100);
  }
  ~SlotTable() { server.Deactivate(); }
  SlotTable(SlotTable const&) = delete;
  SlotTable& operator=(SlotTable const&) = delete;

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::SwitchBoardScope board;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  test_server::ConnectCounter watch;
};

class SlotTableTest : public ::testing::Test, protected SlotTable {};

}  // namespace test
