// The bus test through the switch (the process's one HwMux on the shared stand-in): the
// pattern written and read back, mismatches, disabling, and ranges past the last bus.

#include "server/hw_tests.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "hardware/hw_mux.h"
#include "server/control_server.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/board_messages.h"
#include "tests/server/controller_end.h"
#include "tests/support/switch_board.h"

namespace {

using board_test::Bpc;
using board_test::test_bpc;
using lgcp_test::error_of;
using lgcp_test::is_success;

class HwTestsTest : public ::testing::Test {
protected:
  HwTestsTest() {
    HwMux::instance();
    server.Bind(&tests);
    server.Activate(controller.link());
    test::switch_board().clear_requests();
  }
  ~HwTestsTest() override { server.Deactivate(); }

  LGCP::Message answer(LGCP::Message const& m) {
    auto const got = controller.exchange(m);
    EXPECT_EQ(got.size(), 1u);
    return got.empty() ? LGCP::Message() : got.back();
  }
  std::vector<std::string> requests(std::string const& name) {
    std::vector<std::string> out;
    for (auto const& r : test::switch_board().requests("/dev/hal", name)) out.push_back(r.fields);
    return out;
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::SwitchBoardScope board;
  test::StreamCapture streams;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  HwTests tests;
};

TEST_F(HwTestsTest, WrittenPatternReadsBackAndAMismatchStopsTheCheck) {
  // glibc's random() after srandom(1), low bytes: 67 C6 69 73 51 FF 4A EC.
  EXPECT_TRUE(is_success(answer(test_bpc(1, 3, 1, Bpc::write, 0, 4))));
  EXPECT_EQ(requests("ioctl write"), (std::vector<std::string>{"output=8576 byte=0x67", "output=8577 byte=0xc6",
                                                               "output=8578 byte=0x69", "output=8579 byte=0x73"}));
  EXPECT_EQ(requests("ioctl read").size(), 4u);
  EXPECT_TRUE(is_success(answer(test_bpc(2, 3, 1, Bpc::read, 0, 4))));

  test::switch_model().set_input(8581, 0x67);
  test::switch_model().set_input(8582, 0x00);
  test::switch_board().clear_requests();
  EXPECT_EQ(error_of(answer(test_bpc(3, 3, 1, Bpc::read, 5, 3))), LGCP::ErrorCause::busError);
  EXPECT_NE(streams.err().find("bus 3: test failed on channel 6 expected C6  read 00 \n"), std::string::npos)
      << streams.err();
  EXPECT_EQ(requests("ioctl read"), (std::vector<std::string>{"port=8581 byte=0xff got=0x67",
                                                              "port=8582 byte=0xff got=0x00"}));
}

TEST_F(HwTestsTest, DisableAndEmptyRangesAndRangesPastTheLastBus) {
  EXPECT_TRUE(is_success(answer(test_bpc(1, 15, 7, Bpc::write, 120, 10))));
  auto const written = requests("ioctl write");
  ASSERT_EQ(written.size(), 10u);
  EXPECT_EQ(written.back().rfind("output=10241 ", 0), 0u) << "past the shadowed outputs: to the driver unchanged";
  EXPECT_EQ(HwMux::instance().shadow(10239), HwMux::kConstant);
  EXPECT_TRUE(is_success(answer(test_bpc(2, 15, 7, Bpc::disconnect, 120, 10))));
  for (std::uint32_t port = 10232; port <= 10241; ++port)
    EXPECT_EQ(test::switch_model().output(port).kind, BoardSim::Hal::Output::Kind::disabled) << port;
  EXPECT_EQ(HwMux::instance().shadow(10239), HwMux::kDisabled);

  // The switch's refresh disables outputs on every loop pass: look at writes and reads.
  test::switch_board().clear_requests();
  for (Bpc mode : {Bpc::read, Bpc::write, Bpc::disconnect})
    EXPECT_TRUE(is_success(answer(test_bpc(3, 0, 1, mode, 10, 0))));
  EXPECT_TRUE(requests("ioctl write").empty());
  EXPECT_TRUE(requests("ioctl read").empty());
}

}  // namespace
