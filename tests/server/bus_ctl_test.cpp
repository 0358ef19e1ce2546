// Clock control against the stand-in's selector: the free-running clock at each
// connection and loss, the sources `clockCfg` picks, and control turned off.

#include "server/bus_ctl.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/server/board_services.h"

namespace {

using BoardSim::Repeat;
using board_test::clock_cfg;
using lgcp_test::error_of;
using lgcp_test::is_success;
using Strings = std::vector<std::string>;

class BusCtlTest : public test_server::BoardServicesTest {
protected:
  // The command's answer, and the sources it selected.
  Strings selects(LGCP::Message const& m, bool success = true) {
    sim.clear_requests();
    auto const got = controller.exchange(m);
    EXPECT_TRUE(!got.empty() && (success ? is_success(got.back()) : error_of(got.back()) == LGCP::ErrorCause::unsupported));
    return fields("/dev/hal", "ioctl HW_CLOCK_SELECT");
  }
  BusCtl& clock_control = make<BusCtl>();
};

TEST_F(BusCtlTest, TheFreeRunningClockAtEachConnectionAndTheSourcesAsked) {
  connect();
  run_for(10);
  EXPECT_EQ(fields("/dev/hal", "ioctl HW_CLOCK_SELECT"), Strings{"source=4"});
  EXPECT_NE(streams.err().find("clkctl: set clock source cmd: {\n  clkSel0 internal,\n  bextEn disabled,\n  source -1\n }\n"
                                "clkctl: clock source = freerun\n"),
            std::string::npos)
      << streams.err();
  EXPECT_EQ(model("/dev/hal", "state", {"clock"}), Strings{"clock source=4"});

  using LGCP::BExtEn;
  using LGCP::ClkSel0;
  EXPECT_EQ(selects(clock_cfg(1, ClkSel0::external, BExtEn::enabled, 2)), Strings{"source=2"});
  EXPECT_NE(streams.err().find("clkctl: clock source = f2\n"), std::string::npos);
  EXPECT_TRUE(selects(clock_cfg(2, ClkSel0::external, BExtEn::enabled, -1)).empty());
  EXPECT_EQ(selects(clock_cfg(3, ClkSel0::internal, BExtEn::enabled, 3)), Strings{"source=4"});
  EXPECT_EQ(selects(clock_cfg(4, ClkSel0::external, BExtEn::disabled, 0)), Strings{"source=5"});
  EXPECT_NE(streams.err().find("clkctl: clock source = X3\n"), std::string::npos);
  // Past the name table: its number stands for the name.
  EXPECT_EQ(selects(clock_cfg(5, ClkSel0::external, BExtEn::enabled, 9)), Strings{"source=9"});
  EXPECT_NE(streams.err().find("clkctl: clock source = 9\n"), std::string::npos);
  sim.fail("/dev/hal", "ioctl HW_CLOCK_SELECT", EIO, Repeat::once);
  EXPECT_EQ(selects(clock_cfg(6, ClkSel0::external, BExtEn::enabled, 1)), Strings{"source=1 -> error"});
  EXPECT_NE(streams.err().find("clkctl: HW_CLOCK_SELECT fail.\n"), std::string::npos);

  sim.clear_requests();
  controller.close();
  run_for(100);
  EXPECT_EQ(fields("/dev/hal", "ioctl HW_CLOCK_SELECT"), Strings{"source=4"}) << "and again when it goes";
}

TEST_F(BusCtlTest, ControlTurnedOffNeverOpensTheDeviceAndRefusesClockCommands) {
  clock_control.DisableControl();
  EXPECT_EQ(streams.log(), "clock control disabled.\n");
  connect();
  run_for(10);
  EXPECT_TRUE(selects(clock_cfg(1, LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0), false).empty());
  EXPECT_TRUE(sim.requests("/dev/hal").empty());
}

}  // namespace
