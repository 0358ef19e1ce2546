// The BRI line-interface chips on the stand-in's SPI bus: bring-up, clock master, the
// status pass with its slip latches, the loss of SPI and the shutdown at exit.

#include "server/spi_ctrl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "tests/server/board_services.h"

namespace {

using BoardSim::Repeat;
using test_server::trunk_signals;
using Strings = std::vector<std::string>;

std::string write_of(unsigned channel, unsigned reg, unsigned value) {
  char data[8];
  std::snprintf(data, sizeof data, "0x%02x", value);
  return "channel=" + std::to_string(channel) + " register=" + std::to_string(reg) + " data=" + data;
}

// What switching channels on or off writes, channel by channel.
Strings writes(std::vector<unsigned> const& channels, std::vector<std::pair<unsigned, unsigned>> const& registers) {
  Strings out;
  for (unsigned c : channels)
    for (auto [reg, value] : registers) out.push_back(write_of(c, reg, value));
  return out;
}

class SpiCtrlTest : public test_server::BoardServicesTest {
protected:
  Strings spi_writes() { return fields("/dev/hal", "ioctl spi-write"); }
  // "bri <channel> <state> slips=<n>" of each signal.
  static Strings short_texts(std::vector<LGCP::Message> const& messages) {
    Strings out;
    for (std::string const& t : trunk_signals(messages)) out.push_back(t.substr(0, t.find(" lossBF=")));
    return out;
  }
};

TEST_F(SpiCtrlTest, BringUpInitialisesAndEnablesSevenChannelsNotEight) {
  make<spiCtrl>();
  EXPECT_EQ(spi_writes(), writes({0, 1, 2, 3, 4, 5, 6},
                                 {{50, 128}, {48, 8}, {87, 48}, {52, 96}, {53, 0}, {54, 0}, {55, 0}, {50, 0}}));
  EXPECT_EQ(streams.log().find("spi: try init\nspi: init channel 0\nspi: enable channel 0\nspi: init channel 1\n"), 0u)
      << streams.log();
  EXPECT_EQ(streams.log().find("channel 7"), std::string::npos);
  EXPECT_EQ(model("/dev/hal", "state", {"spi", "7"}), Strings{"channel=7 48=- 50=- 51=- 52=- 53=- 54=- 55=- 87=-"});
}

TEST_F(SpiCtrlTest, ClockMasterIsOneChannelOrNone) {
  spiCtrl& spi = make<spiCtrl>();
  sim.clear_requests();
  spi.clock(3);
  Strings expected = writes({0, 1, 2, 3, 4, 5, 6, 7}, {{87, 48}});
  expected.push_back(write_of(3, 87, 56));
  EXPECT_EQ(spi_writes(), expected);
  EXPECT_NE(streams.log().find("spi: set clock master on channel 3\n"), std::string::npos);

  sim.clear_requests();
  spi.clock(8);
  spi.clock(-2);
  spi.enable_channel(8);
  spi.init_channel(-1);
  EXPECT_TRUE(spi_writes().empty());
  for (char const* line : {"spi: bad channel for set clock master 8\n", "spi: bad channel for set clock master -2\n",
                           "spi: bad channel for enable 8\n", "spi: bad channel for init -1\n"})
    EXPECT_NE(streams.log().find(line), std::string::npos) << line;
  spi.clock(-1);
  EXPECT_EQ(spi_writes(), writes({0, 1, 2, 3, 4, 5, 6, 7}, {{87, 48}}));
  EXPECT_NE(streams.log().find("spi: clock master disabled\n"), std::string::npos);
}

TEST_F(SpiCtrlTest, EachChannelKeepsItsOwnSlipLatch) {
  unsigned const status[] = {0xC5, 0x85, 0x45, 0x01, 0x00, 0xE5, 0xE5, 0xC5};
  for (unsigned c = 0; c < 8; ++c) model("/dev/hal", "set", {"spi", std::to_string(c), "51", std::to_string(status[c])});
  make<spiCtrl>();
  connect();
  EXPECT_TRUE(trunk_signals(run_for(990)).empty()) << "the first pass comes a second after the connection";
  auto got = short_texts(run_for(20));
  Strings const first = {"bri 0 normal slips=0",      "bri 1 rai slips=0",    "bri 2 ais slips=0",
                         "bri 3 lossBF slips=0",      "bri 4 lossCarrier slips=0",
                         "bri 5 normal slips=1",      "bri 6 normal slips=1", "bri 7 normal slips=0"};
  EXPECT_EQ(got, first) << "two channels slipping in one pass both say so";
  got = short_texts(run_for(1000));
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[5], "bri 5 normal slips=0") << "a standing slip is reported once";
  EXPECT_EQ(got[6], "bri 6 normal slips=0");

  model("/dev/hal", "set", {"spi", "5", "51", "0xC5"});
  got = short_texts(run_for(1000));
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[6], "bri 6 normal slips=0") << "a clean channel leaves the others' latches alone";
  model("/dev/hal", "set", {"spi", "5", "51", "0xE5"});
  got = short_texts(run_for(1000));
  ASSERT_EQ(got.size(), 8u);
  EXPECT_EQ(got[5], "bri 5 normal slips=1") << "a new slip after a clean pass";
  EXPECT_EQ(got[6], "bri 6 normal slips=0");
  for (std::string const& t : trunk_signals(run_for(1000)))
    EXPECT_NE(t.find("lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0"), std::string::npos) << t;

  // The controller goes: no more passes.
  controller.close();
  run_for(10);
  sim.clear_requests();
  run_for(3000);
  EXPECT_TRUE(fields("/dev/hal", "ioctl spi-read").empty());
}

TEST_F(SpiCtrlTest, ADriverWithoutSpiEndsThePassAsLossOfCarrierAndStopsTheReports) {
  make<spiCtrl>();
  connect();
  run_for(10);
  sim.fail("/dev/hal", "ioctl spi-read", ENODEV, Repeat::once);
  Strings expected;
  for (int c = 0; c < 8; ++c) expected.push_back("bri " + std::to_string(c) + " lossCarrier slips=0");
  EXPECT_EQ(short_texts(run_for(1000)), expected) << "the pass goes on: a failed read counts as 0";
  EXPECT_NE(streams.log().find("spi: hal without spi\n"), std::string::npos) << streams.log();
  sim.clear_requests();
  EXPECT_TRUE(trunk_signals(run_for(2500)).empty());
  EXPECT_TRUE(fields("/dev/hal", "ioctl spi-read").empty());
  EXPECT_TRUE(spi_writes().empty());
}

TEST_F(SpiCtrlTest, ADeviceThatDidNotOpenIsTriedAgainByTheNextChannelOperation) {
  sim.fail("/dev/hal", "open", ENODEV, Repeat::once);
  spiCtrl& spi = make<spiCtrl>();
  EXPECT_NE(streams.log().find("spi: try init\nspi: /dev/hal open fail\n"), std::string::npos) << streams.log();
  EXPECT_TRUE(spi_writes().empty());
  spi.clock(-1);
  Strings expected = writes({0, 1, 2, 3, 4, 5, 6},
                            {{50, 128}, {48, 8}, {87, 48}, {52, 96}, {53, 0}, {54, 0}, {55, 0}, {50, 0}});
  for (std::string const& w : writes({0, 1, 2, 3, 4, 5, 6, 7}, {{87, 48}})) expected.push_back(w);
  EXPECT_EQ(spi_writes(), expected) << "brought up first, then no clock master";
}

TEST_F(SpiCtrlTest, AtExitEveryChannelIsSwitchedOffAndNoneIsClockMaster) {
  auto spi = std::make_unique<spiCtrl>();
  sim.clear_requests();
  spi.reset();
  Strings expected = writes({0, 1, 2, 3, 4, 5, 6, 7}, {{50, 128}});
  for (std::string const& w : writes({0, 1, 2, 3, 4, 5, 6, 7}, {{87, 48}})) expected.push_back(w);
  EXPECT_EQ(spi_writes(), expected);
  EXPECT_NE(streams.log().find("spi: disable channel 0\n"), std::string::npos);
  EXPECT_NE(streams.log().find("spi: disable channel 7\nspi: clock master disabled\n"), std::string::npos);
  EXPECT_EQ(sim.requests("/dev/hal", "close").size(), 1u);
}

}  // namespace
