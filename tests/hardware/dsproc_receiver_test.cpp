// The DSP service against the stand-in's "/dev/dsp": which switches reach the driver,
// the configure records by kind and driver version, and the lines of each.

#include <gtest/gtest.h>

#include "tests/hardware/receiver_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class DspTest : public ReceiverTest {
protected:
  Lines dsp(std::string const& name) { return requests(Board::kDsp, "ioctl " + name); }
  // Every request on the device, name and fields; not the service's first open.
  Lines all() {
    Lines lines;
    for (auto const& r : switch_board().requests(Board::kDsp))
      if (r.name != "open") lines.push_back(r.name + ' ' + r.fields);
    return lines;
  }
  // The id the next enable will carry, read off a throw-away receiver's enable.
  std::uint32_t next_id() {
    Receiver probe(99);
    EXPECT_TRUE(probe.enableNG(true));
    std::string const fields = dsp("DSPROC_ENABLE").back();
    clear();
    return static_cast<std::uint32_t>(std::stoul(fields.substr(fields.find("id=") + 3))) + 1;
  }

  Receiver receiver{5};
};

TEST_F(DspTest, SwitchesReachTheDriverUnlessAlreadyInTheAskedState) {
  std::uint32_t const id = next_id();
  EXPECT_TRUE(receiver.disableBSS()) << "BSS starts off";
  EXPECT_TRUE(receiver.disableNG());
  EXPECT_TRUE(dsp("DSPROC_DISABLE").empty());
  EXPECT_TRUE(receiver.disableVAD()) << "VAD starts unset: the first disable is sent";
  EXPECT_TRUE(receiver.enableVAD(true));
  EXPECT_TRUE(receiver.enableVAD(true));
  EXPECT_TRUE(receiver.enableSD(true));
  EXPECT_EQ(all(), (Lines{"ioctl DSPROC_DISABLE ts=5 mask=0x1",
                          "ioctl DSPROC_ENABLE ts=5 id=" + std::to_string(id) + " mask=0x1",
                          "ioctl DSPROC_ENABLE ts=5 id=" + std::to_string(id + 1) + " mask=0x2"}));
  EXPECT_EQ(streams.err(), "DSPROC_DISABLE VAD done: timeslot=5\n"
                           "DSPROC_ENABLE VAD done: timeslot=5 id=" + std::to_string(id) + "\n"
                           "DSPROC_ENABLE SD done: timeslot=5 id=" + std::to_string(id + 1) + "\n");

  clear();
  control("fail dsp ioctl DSPROC_ENABLE EIO once");
  EXPECT_FALSE(receiver.enableBSS(true));
  EXPECT_EQ(streams.err(), "DSPROC_ENABLE BSS fail: timeslot=5 id=" + std::to_string(id + 2) +
                               " errno=\"Input/output error\"\n");
  EXPECT_TRUE(receiver.disableBSS()) << "a failed enable left it off";
  control("fail dsp ioctl DSPROC_DISABLE EIO once");
  EXPECT_FALSE(receiver.disableSD());
  EXPECT_TRUE(receiver.enableSD(true)) << "a failed disable left it on";
  EXPECT_EQ(dsp("DSPROC_ENABLE").size(), 1u);
}

TEST_F(DspTest, MuteMasksFollowTheTwoFlags) {
  std::uint32_t const id = next_id();
  EXPECT_TRUE(receiver.enableMute(true, true));
  EXPECT_TRUE(receiver.enableMute(true, false));
  EXPECT_TRUE(receiver.enableMute(true, false)) << "the second mute is recorded off";
  EXPECT_TRUE(receiver.disableMute());
  EXPECT_TRUE(receiver.disableMute());
  EXPECT_EQ(all(), (Lines{"ioctl DSPROC_ENABLE ts=5 id=" + std::to_string(id) + " mask=0xc",
                          "ioctl DSPROC_ENABLE ts=5 id=" + std::to_string(id + 1) + " mask=0x4",
                          "ioctl DSPROC_DISABLE ts=5 mask=0xc"}));
  EXPECT_EQ(streams.err(), "DSPROC_ENABLE MUTE done: timeslot=5 id=" + std::to_string(id) +
                               "\nDSPROC_ENABLE MUTE done: timeslot=5 id=" + std::to_string(id + 1) +
                               "\nDSPROC_DISABLE MUTE done: timeslot=5\n");
}

TEST_F(DspTest, VadConfigurationFollowsTheDriversVersion) {
  LGCP::VADParams v1;
  v1.select_v1();
  LGCP::VADParams v2;
  TERM::VADParamsV2& thresholds = v2.select_v2();
  thresholds.set_voice_th_msec(300);
  thresholds.set_silence_th_msec(900);
  thresholds.set_e_th_dB(40);

  EXPECT_FALSE(receiver.configureVAD(v1));
  EXPECT_EQ(streams.err(), "DSPROC_CONFIGURE VAD: params not specified for v2:  timeslot=5\n");
  EXPECT_TRUE(receiver.configureVAD(v2));
  EXPECT_EQ(dsp("DSPROC_CONFIGURE"), Lines{"ts=5 kind=VAD voice=300 silence=900 energy=40"});
  EXPECT_EQ(streams.log(), "DSPROC_CONFIGURE VAD ts=5\n");

  clear();
  control("set dsp version 1");
  EXPECT_TRUE(receiver.configureVAD(v2));
  control("fail dsp ioctl VAD_VERSION EIO once");
  EXPECT_TRUE(receiver.configureVAD(v1)) << "a failed query counts as an older driver";
  control("set dsp version 2");
  EXPECT_EQ(dsp("DSPROC_CONFIGURE"), (Lines{"ts=5 kind=VAD words=3,127,0", "ts=5 kind=VAD words=3,127,0"}));
}

TEST_F(DspTest, OtherConfigurationsAndTheirLines) {
  EXPECT_TRUE(receiver.configureSD());
  receiver.configureDelays(8, 16);
  receiver.configureRxGain(static_cast<char>(0xf6));
  receiver.configureToneFilter(2100, 1, 400, -30);
  receiver.disableToneAll();
  EXPECT_EQ(streams.log(), "DSPROC_CONFIGURE SD ts=5\n"
                           "DSPROC_CONFIGURE DELAYS ts=5 rx=8 tx=16\n"
                           "DSPROC_CONFIGURE RX GAIN ts=5 gain_dB=246\n"
                           "DSPROC_CONFIGURE TONE FILTER ts=5 freq=2100, en=1, dur_th_msec=400, det_lvl_dB=-30\n"
                           "DISABLE ALL TONE done:  ts=5\n");
  EXPECT_EQ(all(), (Lines{"ioctl DSPROC_CONFIGURE ts=5 kind=SD", "ioctl DSPROC_CONFIGURE ts=5 kind=DELAYS rx=8 tx=16",
                          "ioctl DSPROC_CONFIGURE ts=5 kind=RX_GAIN gain=246",
                          "ioctl DSPROC_CONFIGURE ts=5 kind=TONE_FILTER freq=2100 en=1 dur=400 level=226",
                          "ioctl DSPROC_DISABLE ts=5 mask=0x100"}));

  clear();
  for (char const* name : {"DSPROC_CONFIGURE", "DSPROC_CONFIGURE", "DSPROC_CONFIGURE", "DSPROC_CONFIGURE",
                           "DSPROC_CONFIGURE", "DSPROC_DISABLE"})
    control(std::string("fail dsp ioctl ") + name + " EINVAL once");
  EXPECT_FALSE(receiver.configureSD());
  receiver.configureDelays(1, 2);
  receiver.configureRxGain(1);
  receiver.configureToneFilter(1, 1, 1, 1);
  EXPECT_FALSE(receiver.configureVAD(LGCP::VADParams(LGCP::VADParams::v2::id, TERM::VADParamsV2())));
  receiver.disableToneAll();
  std::string const e = " timeslot=5 errno=\"Invalid argument\"\n";
  EXPECT_EQ(streams.err(), "DSPROC_CONFIGURE SD fail:" + e + "DSPROC_CONFIGURE DELAYS fail:" + e +
                               "DSPROC_CONFIGURE Rx Gain fail:" + e + "DSPROC_CONFIGURE Tone Filter fail:" + e +
                               "DSPROC_CONFIGURE VAD fail:" + e + "Disable All Tone fail:" + e);
  EXPECT_EQ(streams.log(), "");
}

TEST_F(DspTest, CleanBeforeDestroyUndoesWhatWasSwitchedOn) {
  Receiver fresh(7);
  fresh.Hardware::DSProcReceiver::CleanBeforeDestroy();
  EXPECT_EQ(all(), Lines{"ioctl DSPROC_DISABLE ts=7 mask=0x100"}) << "only the tone filters";

  ASSERT_TRUE(receiver.enableVAD(true));
  ASSERT_TRUE(receiver.enableBSS(true));
  ASSERT_TRUE(receiver.enableNG(true));
  ASSERT_TRUE(receiver.enableSD(true));
  ASSERT_TRUE(receiver.enableMute(true, false));
  receiver.configureDelays(0, 5);
  receiver.configureRxGain(3);
  clear();
  receiver.Hardware::DSProcReceiver::CleanBeforeDestroy();
  EXPECT_EQ(all(), (Lines{"ioctl DSPROC_DISABLE ts=5 mask=0x1", "ioctl DSPROC_DISABLE ts=5 mask=0x10",
                          "ioctl DSPROC_DISABLE ts=5 mask=0x80", "ioctl DSPROC_CONFIGURE ts=5 kind=DELAYS rx=0 tx=0",
                          "ioctl DSPROC_CONFIGURE ts=5 kind=RX_GAIN gain=0", "ioctl DSPROC_DISABLE ts=5 mask=0x100"}))
      << "SD and mute stay";
}

}  // namespace
}  // namespace test
