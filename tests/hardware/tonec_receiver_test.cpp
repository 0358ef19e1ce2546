// The tone service against the stand-in's "/dev/dtmf": digit strings and the ring-back
// cadence on the generator in simulated time, SELCAL, the detector switches with their
// lines, receiver ids, and what a receiver undoes before it goes.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "hardware/dtmf.h"
#include "tests/hardware/receiver_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;
using Hardware::TonecReceiverService;

constexpr char kOff[] = "f1=0 f2=0 a1=0 a2=0";
constexpr char kSilence[] = "f1=1000 f2=1000 a1=0 a2=0";
constexpr char kRing[] = "f1=425 f2=0 a1=2048 a2=2048";

LGCP::TranslateDtmfParams digits(std::string const& text) {
  LGCP::TranslateDtmfParams params;
  for (char const c : text) {
    auto const at = std::find(Dtmf::strRep, Dtmf::strRep + Dtmf::NumTones, c) - Dtmf::strRep;
    LGCP::DualTone tone;
    tone.set_freq1(Dtmf::freq1[at]);
    tone.set_freq2(Dtmf::freq2[at]);
    params.set_digits().push_back(tone);
  }
  return params;
}

std::string dial(unsigned ms, char const* tone) { return "+" + std::to_string(ms) + " ts=5 " + tone; }

class ToneTest : public ReceiverTest {
protected:
  Receiver receiver{5};
};

TEST(DtmfTable, HoldsTheSixteenPairs) {
  EXPECT_EQ(Dtmf::tonesValidator.size(), 16u);
  EXPECT_EQ(Dtmf::tonesValidator.at('1'), std::make_pair(std::uint16_t{697}, std::uint16_t{1209}));
  EXPECT_EQ(Dtmf::tonesValidator.at('D'), std::make_pair(std::uint16_t{941}, std::uint16_t{1633}));
  EXPECT_EQ(Dtmf::tonesValidator.at('#'), std::make_pair(std::uint16_t{941}, std::uint16_t{1477}));
  EXPECT_EQ(Dtmf::tonesValidator.at('0'), std::make_pair(std::uint16_t{941}, std::uint16_t{1336}));
}

TEST_F(ToneTest, DigitsSoundSeventyMillisecondsWithSeventyOfSilenceThenTheGeneratorStops) {
  receiver.translateDTMF(digits("1#"));
  EXPECT_TRUE(receiver.is_inDTMFTransmit());
  run_for(1000);
  EXPECT_EQ(dials(), (Lines{dial(0, "f1=697 f2=1209 a1=16384 a2=16384"), dial(70, kSilence),
                            dial(140, "f1=941 f2=1477 a1=16384 a2=16384"), dial(210, kSilence), dial(280, kOff)}));
  ASSERT_EQ(receiver.completed.size(), 1u);
  EXPECT_EQ(receiver.completed[0] - start, 280u);
  EXPECT_FALSE(receiver.is_inDTMFTransmit());
}

TEST_F(ToneTest, ANewStringMidSequenceReplacesTheRestWithItsOwnTimes) {
  receiver.translateDTMF(digits("1#"));
  run_for(100);
  LGCP::TranslateDtmfParams next = digits("9");
  next.set_toneDuration(50);
  next.set_amp1(1000);
  receiver.translateDTMF(next);
  run_for(1000);
  EXPECT_EQ(dials(), (Lines{dial(0, "f1=697 f2=1209 a1=16384 a2=16384"), dial(70, kSilence),
                            dial(140, "f1=852 f2=1477 a1=1000 a2=16384"), dial(190, kSilence), dial(260, kOff)}));
  EXPECT_EQ(receiver.completed.size(), 1u);
}

TEST_F(ToneTest, AnEmptyStringWhileIdleEndsAtOnce) {
  receiver.translateDTMF(LGCP::TranslateDtmfParams());
  EXPECT_EQ(dials(), Lines{dial(0, kOff)});
  EXPECT_EQ(receiver.completed, std::vector<unsigned>{start}) << "no timer in between";
  EXPECT_FALSE(receiver.is_inDTMFTransmit());
}

TEST_F(ToneTest, RingBackCadenceUntilCancelled) {
  receiver.activateAudibleCall();
  EXPECT_FALSE(receiver.is_inDTMFTransmit());
  run_for(4500);
  receiver.cancelAudibleCall();
  run_for(10000);
  EXPECT_EQ(dials(), (Lines{dial(0, kRing), dial(1000, kSilence), dial(4000, kRing), dial(4500, kOff)}));
}

TEST_F(ToneTest, RingBackDuringAStringEndsTheStringAndCancelStopsIt) {
  receiver.translateDTMF(digits("1#"));
  run_for(30);
  receiver.activateAudibleCall();
  EXPECT_FALSE(receiver.is_inDTMFTransmit());
  run_for(1500);
  receiver.cancelAudibleCall();
  run_for(10000);
  EXPECT_EQ(dials(), (Lines{dial(0, "f1=697 f2=1209 a1=16384 a2=16384"), dial(30, kRing), dial(1030, kSilence),
                            dial(1530, kOff)}));
  EXPECT_TRUE(receiver.completed.empty()) << "the string was cut short, not sent";

  // A later string takes the generator as from idle.
  clear();
  receiver.translateDTMF(digits("0"));
  run_for(1000);
  EXPECT_EQ(receiver.completed.size(), 1u);
}

TEST_F(ToneTest, DisableWithoutForceActsOnlyOnAString) {
  EXPECT_FALSE(receiver.disableToneGenerator(false));
  EXPECT_TRUE(dials().empty());
  receiver.translateDTMF(digits("12"));
  EXPECT_TRUE(receiver.disableToneGenerator(false));
  run_for(1000);
  EXPECT_EQ(dials(), (Lines{dial(0, "f1=697 f2=1209 a1=16384 a2=16384"), dial(0, kOff)}));
  EXPECT_TRUE(receiver.completed.empty());
}

TEST_F(ToneTest, ADestroyedReceiverSilencesItsGeneratorOnlyWhenItSounds) {
  auto ringing = std::make_unique<Receiver>(5);
  ringing->activateAudibleCall();
  run_for(500);
  ringing->Hardware::TonecReceiver::CleanBeforeDestroy();
  ringing.reset();
  run_for(10000);
  EXPECT_EQ(dials(), (Lines{dial(0, kRing), dial(500, kOff)}));

  clear();
  auto sending = std::make_unique<Receiver>(5);
  sending->translateDTMF(digits("1"));
  sending->Hardware::TonecReceiver::CleanBeforeDestroy();
  sending.reset();
  run_for(1000);
  EXPECT_EQ(requests(Board::kDtmf, "ioctl DTMF_DIAL"),
            (Lines{"ts=5 f1=697 f2=1209 a1=16384 a2=16384", std::string("ts=5 ") + kOff}));

  clear();
  Receiver idle(5);
  idle.Hardware::TonecReceiver::CleanBeforeDestroy();
  EXPECT_TRUE(switch_board().requests(Board::kDtmf).empty()) << "an idle receiver has nothing to undo";
}

TEST_F(ToneTest, SelcalSendsFourSignsAtTheGivenOrDefaultAmplitude) {
  TERM::SelcalCommand command;
  command.set_signs("ABC");
  receiver.translateSelcal(command);
  EXPECT_TRUE(requests(Board::kDtmf, "ioctl SELCAL_DIAL").empty());
  EXPECT_EQ(streams.err(), "SELCAL_DIAL fail: timeslot=5 incorect signs:ABC\n");
  command.set_signs("ABCDE");
  receiver.translateSelcal(command);
  command.set_amp(900);
  command.set_signs("PQRS");
  receiver.translateSelcal(command);
  EXPECT_EQ(requests(Board::kDtmf, "ioctl SELCAL_DIAL"),
            (Lines{"ts=5 amp=12000 signs=\"ABCD\"", "ts=5 amp=900 signs=\"PQRS\""}));
}

TEST_F(ToneTest, DetectorSwitchesAndTheirLines) {
  TonecReceiverService::instance().set_idCounter(0xfffffffe);
  EXPECT_TRUE(receiver.enableDTMF(true));
  EXPECT_TRUE(receiver.enableDTMF(true)) << "already on: nothing is sent";
  Receiver other(6);
  EXPECT_TRUE(other.enableDTMF(true));
  EXPECT_EQ(requests(Board::kDtmf, "ioctl DTMF_ENABLE_DETECTOR"), (Lines{"ts=5 id=4294967295", "ts=6 id=1"}))
      << "the id after 0xffffffff is 1";
  EXPECT_EQ(streams.err(), "DTMF_ENABLE_DETECTOR done: timeslot=5 id=4294967295\n"
                           "DTMF_ENABLE_DETECTOR done: timeslot=6 id=1\n");
  EXPECT_EQ(streams.log(), "");

  clear();
  EXPECT_TRUE(receiver.echoCancel(true));
  EXPECT_TRUE(receiver.enableDTMFReject(true));
  EXPECT_TRUE(receiver.enableIVA(false));
  EXPECT_EQ(streams.log(), "CHANNEL_LMS_ON[5] ok\nDTMF_REJECTION_ENABLE[5] ok\nIVA_DETECTOR_DISABLE[5] ok\n");
  EXPECT_EQ(streams.err(), "");
  EXPECT_TRUE(receiver.enableDTMF(true)) << "the IVA switch cleared the shared detector flag";
  EXPECT_EQ(requests(Board::kDtmf, "ioctl DTMF_ENABLE_DETECTOR"), Lines{"ts=5 id=2"});

  clear();
  control("fail dtmf ioctl CHANNEL_LMS_OFF EIO once");
  control("fail dtmf ioctl DTMF_DISABLE_DETECTOR EIO once");
  EXPECT_FALSE(receiver.echoCancel(false));
  EXPECT_FALSE(receiver.disableDTMF());
  EXPECT_EQ(streams.err(), "CHANNEL_LMS_OFF fail: timeslot=5 errno=\"Input/output error\"\n"
                           "DTMF_DISABLE_DETECTOR fail: timeslot=5 errno=\"Input/output error\"\n");
  EXPECT_TRUE(receiver.disableDTMF()) << "still on after the failure";
  EXPECT_EQ(streams.err().substr(streams.err().rfind("DTMF_")), "DTMF_DISABLE_DETECTOR done: timeslot=5\n");

  clear();
  control("fail dtmf ioctl DTMF_ENABLE_DETECTOR EBUSY once");
  EXPECT_FALSE(receiver.enableDTMF(true));
  EXPECT_EQ(streams.err(), "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=3 errno=\"Device or resource busy\"\n");
  EXPECT_TRUE(receiver.enableDTMF(true));
  EXPECT_EQ(requests(Board::kDtmf, "ioctl DTMF_ENABLE_DETECTOR").back(), "ts=5 id=4");
}

TEST_F(ToneTest, IvaSharesTheDetectorFlag) {
  EXPECT_TRUE(receiver.enableIVA(true));
  EXPECT_TRUE(receiver.enableDTMF(true)) << "returns at once";
  EXPECT_TRUE(requests(Board::kDtmf, "ioctl DTMF_ENABLE_DETECTOR").empty());
  EXPECT_EQ(requests(Board::kDtmf, "ioctl IVA_DETECTOR_ENABLE"), Lines{"value=0x5"});
}

TEST_F(ToneTest, ConfigurationsAndTheirLines) {
  LGCP::DTMFParams dtmf;
  dtmf.set_threshold().set_twist(1);
  dtmf.set_threshold().set_ratio(2);
  dtmf.set_threshold().set_noise(3);
  dtmf.set_level().set_silence(4);
  EXPECT_TRUE(receiver.configureDTMF(dtmf));
  LGCP::IVAParams iva;
  iva.set_det_lvl_dB(-20);
  EXPECT_TRUE(receiver.configureIVA(iva));
  EXPECT_EQ(streams.log(), "DTMF_CONFIGURE_DETECTOR ts=5 twist=1 ratio=2 noise=3 silence=4\n"
                           "IVA_CONFIGURE_DETECTOR ts=5 det_lvl_dB=-20\n");
  EXPECT_EQ(requests(Board::kDtmf, "ioctl DTMF_CONFIGURE_DETECTOR"), Lines{"ts=5 twist=1 ratio=2 silence=4 noise=3"});
  EXPECT_EQ(requests(Board::kDtmf, "ioctl IVA_CONFIGURE_DETECTOR"), Lines{"ts=5 level=-20"});

  control("fail dtmf ioctl DTMF_CONFIGURE_DETECTOR EINVAL once");
  control("fail dtmf ioctl DTMF_DIAL EIO once");
  EXPECT_FALSE(receiver.configureDTMF(dtmf));
  EXPECT_FALSE(receiver.enableSilence());
  EXPECT_EQ(streams.err(), "DTMF_CONFIGURE_DETECTOR fail: timeslot=5 errno=\"Invalid argument\"\n"
                           "DTMF_DIAL fail: timeslot=5 errno=\"Input/output error\"\n");
}

TEST_F(ToneTest, CleanBeforeDestroyUndoesTheDetectorsAndRejectionButNotTheCanceller) {
  ASSERT_TRUE(receiver.enableDTMF(true));
  ASSERT_TRUE(receiver.enableIVA(true));
  ASSERT_TRUE(receiver.enableDTMFReject(true));
  ASSERT_TRUE(receiver.echoCancel(true));
  clear();
  receiver.Hardware::TonecReceiver::CleanBeforeDestroy();
  std::vector<std::string> names;
  for (auto const& r : switch_board().requests(Board::kDtmf)) names.push_back(r.name + ' ' + r.fields);
  EXPECT_EQ(names, (Lines{"ioctl DTMF_DISABLE_DETECTOR value=0x5", "ioctl IVA_DETECTOR_DISABLE value=0x5",
                          "ioctl DTMF_REJECTION_DISABLE value=0x5"}));
}

}  // namespace
}  // namespace test
