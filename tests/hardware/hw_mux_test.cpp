// The switch against the stand-in's "/dev/hal": the requests it sends, its shadow of
// the shared-bus outputs and the refresh that keeps disabled outputs disabled.

#include "hardware/hw_mux.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/support/board_fixture.h"
#include "tests/support/switch_board.h"

namespace {

using BoardSim::Repeat;

class HwMuxTest : public ::testing::Test {
protected:
  std::vector<std::string> requests(std::string const& name) {
    std::vector<std::string> fields;
    for (auto const& r : test::switch_board().requests("/dev/hal", name)) fields.push_back(r.fields);
    return fields;
  }
  // The outputs the next `passes` refresh steps disable.
  std::vector<int> refreshed(unsigned passes) {
    test::switch_board().clear_requests();
    for (unsigned i = 0; i < passes; ++i) mux.OnDPC();
    std::vector<int> outputs;
    for (std::string const& f : requests("ioctl disable")) outputs.push_back(std::stoi(f.substr(f.find('=') + 1)));
    return outputs;
  }
  static bool contains(std::vector<int> const& v, int x) { return std::find(v.begin(), v.end(), x) != v.end(); }

  test::FakeClock clock;
  test::SwitchBoardScope board;
  HwMux mux;  // opens the switch afresh
};

TEST_F(HwMuxTest, FirstOpenDisablesEveryBusOutputAndTheRefreshSweepsInSixteenPasses) {
  auto const disabled = requests("ioctl disable");
  ASSERT_EQ(disabled.size(), 2048u);
  EXPECT_EQ(disabled.front(), "output=8192");
  EXPECT_EQ(disabled.back(), "output=10239");
  for (int port = 8192; port < 10240; ++port) EXPECT_EQ(mux.shadow(port), HwMux::kDisabled);

  auto const first = refreshed(1);
  ASSERT_EQ(first.size(), 128u);
  EXPECT_EQ(first.front(), 8193) << "the first entry after an open is entry 1";
  EXPECT_EQ(first.back(), 8192 + 128);
  auto const rest = refreshed(15);
  ASSERT_EQ(rest.size(), 2048u - 128u);
  EXPECT_EQ(rest.back(), 8192) << "after entry 2047 comes entry 0";
}

TEST_F(HwMuxTest, ConnectedOutputsLeaveTheRefreshAndDisabledOnesReturnToIt) {
  EXPECT_TRUE(mux.Connect(10, 8200));
  EXPECT_EQ(requests("ioctl connect"), std::vector<std::string>{"output=8200 input=10"}) << "the record is {output, input}";
  EXPECT_EQ(mux.shadow(8200), 10);
  EXPECT_FALSE(contains(refreshed(16), 8200));

  // An input number in the marks' range is stored below them: still connected.
  EXPECT_TRUE(mux.Connect(0xFFFF, 8201));
  EXPECT_EQ(mux.shadow(8201), 0xFFFD);
  EXPECT_FALSE(contains(refreshed(16), 8201));

  EXPECT_TRUE(mux.Disable(8200));
  EXPECT_EQ(mux.shadow(8200), HwMux::kDisabled);
  EXPECT_TRUE(contains(refreshed(16), 8200));

  EXPECT_TRUE(mux.Disconnect(8201));
  EXPECT_EQ(requests("ioctl write").back(), "output=8201 byte=0xd5");
  EXPECT_EQ(mux.shadow(8201), HwMux::kConstant);
  EXPECT_TRUE(mux.Write(8202, 0x55));
  EXPECT_EQ(mux.shadow(8202), HwMux::kConstant);
  auto const after = refreshed(16);
  EXPECT_FALSE(contains(after, 8201));
  EXPECT_FALSE(contains(after, 8202));
  EXPECT_EQ(test::switch_model().output(8202).value, 0x55u);
}

TEST_F(HwMuxTest, OutputsOutsideTheBusHaveNoShadow) {
  EXPECT_TRUE(mux.Connect(37, 1));
  EXPECT_TRUE(mux.Connect(5, 10365)) << "above the bus ports: to the driver unchanged";
  EXPECT_EQ(requests("ioctl connect"), (std::vector<std::string>{"output=1 input=37", "output=10365 input=5"}));
  for (int port = 8192; port < 10240; ++port) ASSERT_EQ(mux.shadow(port), HwMux::kDisabled) << port;
  EXPECT_TRUE(mux.Disconnect(1));
  EXPECT_EQ(test::switch_model().output(1).value, 0xD5u);
  EXPECT_FALSE(mux.Connect(-1, 8200));
  EXPECT_FALSE(mux.Disable(-1));
}

TEST_F(HwMuxTest, FailedRequestsSayWhyAndKeepTheShadowWritten) {
  test::CerrCapture cerr;
  test::switch_board().fail("/dev/hal", "ioctl connect", EIO, Repeat::once);
  EXPECT_FALSE(mux.Connect(10, 8200));
  EXPECT_EQ(mux.shadow(8200), 10) << "written before the request, not undone";
  test::switch_board().fail("/dev/hal", "ioctl write", EBUSY, Repeat::once);
  EXPECT_FALSE(mux.Disconnect(8200));
  EXPECT_NE(cerr.text().find("hwMux: connect 10 -> 8200 failed: "), std::string::npos) << cerr.text();
  EXPECT_NE(cerr.text().find("hwMux: disconnect failed 8200 : "), std::string::npos) << cerr.text();
}

TEST_F(HwMuxTest, ReadsWhatAPortCarries) {
  test::switch_model().set_input(37, 0x5A);
  EXPECT_EQ(mux.Read(37), 0x5Au);
  EXPECT_TRUE(mux.Connect(37, 1));
  EXPECT_EQ(mux.Read(1), 0x5Au) << "an output fed from an input carries the input's byte";
  test::CerrCapture cerr;
  test::switch_board().fail("/dev/hal", "ioctl read", EIO, Repeat::once);
  EXPECT_EQ(mux.Read(37), 255u);
  EXPECT_NE(cerr.text().find("hwMux: read failed 37"), std::string::npos) << cerr.text();
}

}  // namespace
