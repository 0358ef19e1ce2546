// What a live RTP slot does: each ioctl's request and answer, transmission with its input
// stream, the codec changes that begin its session again, and the driver's events.

#include "slots/rtp/rtp_slot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

#include "boardsim/sim.h"
#include "foundation/multiplexer.h"
#include "tests/slots/rtp/rtp_slot_fixture.h"
#include "tests/support/switch_board.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;
using namespace rtp_test;
using Lines = std::vector<std::string>;

class RtpOpsTest : public RtpSlotTest {
protected:
  // Slot 7 on channel 2048: payload ptG729, rx ptG729, tx ptG711-Alaw (rx_pt 18, tx_pt 8).
  void make_slot() {
    RtpCreate c;
    c.payload = c.rx = TERM::Payload::ptG729;
    c.tx = TERM::Payload::ptG711_Alaw;
    ASSERT_TRUE(is_success(create(1, 7, c).at(0)));
    stand_in("clear");
    streams.clear();
  }
  // Trunk {1,5} (channel 37) on slot 3, feeding slot 7.
  void feed_slot() {
    ASSERT_TRUE(is_success(command(2, 3, [](LGCP::Command& c) {
                             LGCP::TrunkParams& t = c.select_create().select_trunk();
                             t.set_trunk(1);
                             t.set_timeslot(5);
                           }).at(0)));
    ASSERT_TRUE(is_success(command(3, 3, [](LGCP::Command& c) { c.select_connect(7); }).at(0)));
  }
  std::vector<LGCP::Message> codec(int seq, bool encoder, LGCP::CodecMode::NamedNumber mode) {
    return ioctl(seq, 7, [&](LGCP::IoctlParams& p) {
      if (encoder)
        p.select_encoder_mode(mode);
      else
        p.select_decoder_mode(mode);
    });
  }
  static std::string watches() {
    std::ostringstream dump;
    multiplexer.dump(dump);
    std::size_t n = 0;
    for (std::size_t at = dump.str().find("RtpSlot::OnRtpEvent"); at != std::string::npos;
         at = dump.str().find("RtpSlot::OnRtpEvent", at + 1))
      ++n;
    return std::to_string(n);
  }
  // What the streams said, without the loop's own line at the end of each run.
  std::string said() const {
    std::string text = streams.log() + streams.err();
    for (std::size_t at; (at = text.find("Mux: terminating...\n")) != std::string::npos;) text.erase(at, 20);
    return text;
  }
  // The stand-in's requests, without the switch's refresh of the shared-bus outputs.
  static Lines ioctls(std::string const& device = {}) {
    Lines lines;
    for (std::string const& line : requests(device)) {
      if (line.find(" ioctl ") == std::string::npos) continue;
      if (line.starts_with("/dev/hal ioctl disable output=") && std::stoi(line.substr(30)) >= 8192) continue;
      lines.push_back(line);
    }
    return lines;
  }
  static LGCP::Message const* answer(std::vector<LGCP::Message> const& got) { return got.empty() ? nullptr : &got[0]; }
};

struct Row {
  char const* name;
  std::function<void(LGCP::IoctlParams&)> fill;
  char const* device;
  std::string request;  // the first of the ioctl's requests on the device
};

TEST_F(RtpOpsTest, EachIoctlReachesItsReceiverOrTheDriver) {
  make_slot();
  std::vector<Row> const rows = {
      {"echoSuppressor", [](auto& p) { p.select_echoSuppressor(true); }, "/dev/dtmf",
       "ioctl CHANNEL_LMS_ON value=0x800"},
      {"dtmf-enable", [](auto& p) { p.select_dtmf_enable(true); }, "/dev/dtmf", "ioctl DTMF_ENABLE_DETECTOR ts=2048"},
      {"dtmf-reject-enable", [](auto& p) { p.select_dtmf_reject_enable(true); }, "/dev/dtmf",
       "ioctl DTMF_REJECTION_ENABLE value=0x800"},
      {"activateWaitTone", [](auto& p) { p.select_activateWaitTone(); }, "/dev/dtmf",
       "ioctl DTMF_DIAL ts=2048 f1=425 f2=0 a1=2048 a2=2048"},
      {"deactivateWaitTone", [](auto& p) { p.select_deactivateWaitTone(); }, "/dev/dtmf",
       "ioctl DTMF_DIAL ts=2048 f1=0 f2=0 a1=0 a2=0"},
      {"translateDTMF",
       [](auto& p) {
         LGCP::DualTone tone;
         tone.set_freq1(697);
         tone.set_freq2(1209);
         p.select_translateDTMF().ref_digits().push_back(tone);
       },
       "/dev/dtmf", "ioctl DTMF_DIAL ts=2048 f1=697 f2=1209"},
      {"dtmf-params",
       [](auto& p) {
         LGCP::DTMFParams& d = p.select_dtmf_params();
         d.ref_threshold().set_twist(1);
         d.ref_threshold().set_ratio(2);
         d.ref_threshold().set_noise(3);
         d.ref_level().set_silence(4);
       },
       "/dev/dtmf", "ioctl DTMF_CONFIGURE_DETECTOR ts=2048 twist=1 ratio=2 silence=4 noise=3"},
      {"vad-enable", [](auto& p) { p.select_vad_enable(true); }, "/dev/dsp", "ioctl DSPROC_ENABLE ts=2048"},
      {"vad-disable", [](auto& p) { p.select_vad_disable(); }, "/dev/dsp", "ioctl DSPROC_DISABLE ts=2048 mask=0x1"},
      {"vad-params",
       [](auto& p) {
         TERM::VADParamsV2& v2 = p.select_vad_params().select_v2();
         v2.set_voice_th_msec(20);
         v2.set_silence_th_msec(200);
         v2.set_e_th_dB(30);
       },
       "/dev/dsp", "ioctl VAD_VERSION value=0x0 result=2"},
      {"sd-enable", [](auto& p) { p.select_sd_enable(true); }, "/dev/dsp", "ioctl DSPROC_ENABLE ts=2048"},
      {"sd-disable", [](auto& p) { p.select_sd_disable(); }, "/dev/dsp", "ioctl DSPROC_DISABLE ts=2048 mask=0x2"},
      {"sd-params", [](auto& p) { p.select_sd_params(); }, "/dev/dsp", "ioctl DSPROC_CONFIGURE ts=2048 kind=SD"},
      {"pd-enable", [](auto& p) { p.select_pd_enable().set_timeout(500); }, "/dev/rtp", "ioctl pd-set timeout=500"},
      {"pd-disable", [](auto& p) { p.select_pd_disable(); }, "/dev/rtp", "ioctl pd-reset value=1"},
      {"rx-gain", [](auto& p) { p.select_rx_gain().set_gainDB(-3); }, "/dev/dsp",
       "ioctl DSPROC_CONFIGURE ts=2048 kind=RX_GAIN gain=253"},
      {"tone-filter",
       [](auto& p) {
         LGCP::ToneFilter& f = p.select_tone_filter();
         f.set_freq(2100);
         f.set_enable(true);
         f.set_duration_th_msec(40);
         f.set_det_level_dB(-30);
       },
       "/dev/dsp", "ioctl DSPROC_CONFIGURE ts=2048 kind=TONE_FILTER freq=2100 en=1 dur=40"},
      {"selcal",
       [](auto& p) {
         TERM::SelcalCommand& s = p.select_selcal();
         s.set_signs("ABCD");
       },
       "/dev/dtmf", "ioctl SELCAL_DIAL ts=2048 amp=12000 signs=\"ABCD\""},
  };
  int seq = 10;
  for (Row const& row : rows) {
    stand_in("clear");
    auto const got = ioctl(++seq, 7, row.fill);
    ASSERT_TRUE(answer(got)) << row.name;
    EXPECT_TRUE(is_success(got[0])) << row.name;
    auto const sent = ioctls(row.device);
    ASSERT_FALSE(sent.empty()) << row.name;
    EXPECT_EQ(sent[0].substr(0, std::string(row.device).size() + 1 + row.request.size()),
              std::string(row.device) + " " + row.request)
        << row.name;
  }
  EXPECT_NE(streams.log().find("rtp[2048]: RTP SET EVENT PD timeout=500\n"), std::string::npos);
  EXPECT_NE(streams.log().find("rtp[2048]: RTP RESET EVENT PD\n"), std::string::npos);

  // What an RTP slot does not handle: refused, and nothing said or asked.
  stand_in("clear");
  streams.clear();
  auto got = ioctl(++seq, 7, [](LGCP::IoctlParams& p) { p.select_mute_enable(); });
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(ioctls(), Lines{});
  EXPECT_EQ(said(), "");

  // The driver refuses PD: the ioctl is refused with the system's text.
  test::switch_board().fail("/dev/rtp", "ioctl pd-set", EIO, BoardSim::Repeat::once);
  got = ioctl(++seq, 7, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(500); });
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unsupported);
  EXPECT_NE(streams.err().find("rtp[2048]: RTP SET EVENT PD fail: errno=\"Input/output error\"\n"), std::string::npos)
      << streams.err();
}

TEST_F(RtpOpsTest, TransmissionFollowsTheInputStream) {
  make_slot();
  feed_slot();
  EXPECT_EQ(requests("/dev/rtp", "ioctl tx-start"), Lines{"/dev/rtp ioctl tx-start value=0x0"});
  EXPECT_EQ(stand_in("state rtp 2048").at(0).substr(stand_in("state rtp 2048").at(0).find(" transmitting")),
            " transmitting=yes pd=off");
  ASSERT_TRUE(is_success(command(4, 7, [](LGCP::Command& c) { c.select_disconnect(); }).at(0)));
  EXPECT_EQ(requests("/dev/rtp", "ioctl tx-stop"), Lines{"/dev/rtp ioctl tx-stop value=0x0"});
}

TEST_F(RtpOpsTest, ACodecChangeBeginsTheSessionAgainAndKeepsItTransmittingDetectingAndWatched) {
  make_slot();
  feed_slot();
  ASSERT_TRUE(is_success(ioctl(4, 7, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(500); }).at(0)));
  stand_in("clear");
  streams.clear();
  EXPECT_EQ(watches(), "1");
  ASSERT_TRUE(is_success(codec(10, true, LGCP::CodecMode::lbrc).at(0)));
  Lines const sequence = requests("/dev/rtp");
  ASSERT_EQ(sequence.size(), 6u) << ::testing::PrintToString(sequence);
  EXPECT_EQ(sequence[0], "/dev/rtp close") << "the old session goes first, giving its channel back";
  EXPECT_EQ(sequence[1], "/dev/rtp open flags=O_RDONLY");
  EXPECT_NE(sequence[2].find(" rx_pt=18 tx_pt=18 "), std::string::npos) << sequence[2];
  EXPECT_EQ(sequence[3], "/dev/rtp ioctl add-channel tdm=2048 dev_no=-1 chn=-1 got=2048");
  EXPECT_EQ(sequence[4], "/dev/rtp ioctl tx-start value=0x0") << "the connected slot goes on sending";
  EXPECT_NE(sequence[5].find("/dev/rtp ioctl pd-set timeout=500"), std::string::npos) << sequence[5];
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=1 channels=2048", "ok"}));
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" tx_pt=18 ssrc="), std::string::npos);
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" transmitting=yes pd=500"), std::string::npos);
  EXPECT_NE(streams.log().find("rtp[2048]: do restart RTP session (change tx payload):"), std::string::npos);
  EXPECT_NE(streams.log().find(" - OK\n"), std::string::npos);
  EXPECT_EQ(watches(), "1") << "the watch moved to the new session";

  // Its events are read.
  EXPECT_EQ(stand_in("set rtp event 2048 1 3 500"), Lines{"ok"});
  auto const got = controller.receive(1);
  LGCP::Signal const* const rtp = signal_of(got, LGCP::Signal::rtp::id);
  ASSERT_NE(rtp, nullptr);
  EXPECT_EQ(rtp->get_rtp().get_pd().get_value().getValue(), 3);
  EXPECT_EQ(rtp->get_rtp().get_pd().get_timeout().getValue(), 500);

  // The same mode again: nothing to do. A decoder mode that changes nothing says nothing.
  stand_in("clear");
  streams.clear();
  ASSERT_TRUE(is_success(codec(11, true, LGCP::CodecMode::lbrc).at(0)));
  EXPECT_NE(streams.log().find(" - Nothing to do\n"), std::string::npos);
  streams.clear();
  ASSERT_TRUE(is_success(codec(12, false, LGCP::CodecMode::lbrc).at(0)));
  EXPECT_EQ(said(), "");
  EXPECT_EQ(requests("/dev/rtp"), Lines{});

  // The decoder's change restarts silently; detection switched off stays off.
  ASSERT_TRUE(is_success(ioctl(13, 7, [](LGCP::IoctlParams& p) { p.select_pd_disable(); }).at(0)));
  streams.clear();
  ASSERT_TRUE(is_success(codec(14, false, LGCP::CodecMode::alaw).at(0)));
  EXPECT_EQ(said(), "");
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" rx_pt=8 tx_pt=18 "), std::string::npos);
  EXPECT_EQ(requests("/dev/rtp", "ioctl pd-set"), Lines{});
}

TEST_F(RtpOpsTest, AnUnconnectedSlotsNewSessionStaysSilent) {
  make_slot();
  ASSERT_TRUE(is_success(codec(10, true, LGCP::CodecMode::ulaw).at(0)));
  EXPECT_EQ(requests("/dev/rtp", "ioctl tx-start"), Lines{});
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" transmitting=no "), std::string::npos);
}

TEST_F(RtpOpsTest, AFailedRestartIsRefusedAndTheOldSessionTakesItsChannelAgain) {
  make_slot();
  feed_slot();
  ASSERT_TRUE(is_success(ioctl(4, 7, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(500); }).at(0)));
  streams.clear();
  // Both streams into one buffer, as in the daemon's log: the lines must not merge.
  std::stringstream both;
  std::streambuf* const log = std::clog.rdbuf(both.rdbuf());
  std::streambuf* const err = std::cerr.rdbuf(both.rdbuf());
  test::switch_board().fail("/dev/rtp", "open", EMFILE, BoardSim::Repeat::once);
  auto const got = codec(10, true, LGCP::CodecMode::ulaw);
  std::clog.rdbuf(log);
  std::cerr.rdbuf(err);
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unsupported);
  std::string const text = both.str();
  EXPECT_TRUE(text.starts_with("rtp[2048]: do restart RTP session (change tx payload):encoder-mode : ulaw\n"
                               "rtp[2048]: fail to restart RTP session!\n"))
      << text;
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=1 channels=2048", "ok"}));
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" rx_pt=18 tx_pt=8 ssrc="), std::string::npos)
      << "the old payload";
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" transmitting=yes pd=500"), std::string::npos);
  EXPECT_EQ(watches(), "1");

  // Another create gets another channel; the same change again is made.
  ASSERT_TRUE(is_success(create(11, 8, {}).at(0)));
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=2 channels=2048,2049", "ok"}));
  streams.clear();
  ASSERT_TRUE(is_success(codec(12, true, LGCP::CodecMode::ulaw).at(0)));
  EXPECT_NE(streams.log().find(" - OK\n"), std::string::npos) << streams.log();
  EXPECT_NE(stand_in("state rtp 2048").at(0).find(" tx_pt=0 "), std::string::npos);
}

TEST_F(RtpOpsTest, ASlotWhoseOldSessionCannotComeBackLeavesItsChannelAlone) {
  make_slot();
  feed_slot();
  ASSERT_TRUE(is_success(ioctl(4, 7, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }).at(0)));
  test::switch_board().fail("/dev/rtp", "open", EMFILE, BoardSim::Repeat::always);
  auto const got = codec(10, false, LGCP::CodecMode::ulaw);
  test::switch_board().clear_faults();
  EXPECT_EQ(error_of(got.at(0)), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=0 channels=", "ok"}));
  EXPECT_EQ(watches(), "0") << "nothing left to watch";

  // The channel is the next create's: the old slot's destroy leaves it and its receivers be.
  ASSERT_TRUE(is_success(create(11, 8, {}).at(0)));
  stand_in("clear");
  ASSERT_TRUE(is_success(command(12, 7, [](LGCP::Command& c) { c.select_destroy(); }).at(0)));
  EXPECT_EQ(ioctls("/dev/hal"), Lines{});
  EXPECT_EQ(ioctls("/dev/dtmf"), Lines{});
  EXPECT_EQ(ioctls("/dev/dsp"), Lines{});
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=1 channels=2048", "ok"}));
}

TEST_F(RtpOpsTest, DriverEventsBecomeSignalsAShortRecordEndsTheRoundAndAnEmptyOneTheWatch) {
  make_slot();
  ASSERT_TRUE(is_success(ioctl(10, 7, [](LGCP::IoctlParams& p) { p.select_pd_enable().set_timeout(500); }).at(0)));
  streams.clear();
  EXPECT_EQ(stand_in("set rtp event 2048 1 3 500"), Lines{"ok"});
  auto got = controller.receive(1);
  ASSERT_NE(signal_of(got, LGCP::Signal::rtp::id), nullptr);
  EXPECT_NE(streams.log().find("rtp[2048]: rtp event:  type=1\n"), std::string::npos);

  // Type 2 is only logged.
  streams.clear();
  EXPECT_EQ(stand_in("set rtp event 2048 2 3 500"), Lines{"ok"});
  test::run_until([&] { return streams.log().find("type=2") != std::string::npos; }, 1000);
  EXPECT_NE(streams.log().find("rtp[2048]: rtp event:  type=2\n"), std::string::npos);
  EXPECT_TRUE(controller.pending().empty());

  // A short record is dropped with its line and a whole record after it still comes
  // through; an empty one is the device's end (no record is empty): its events stop, or
  // the loop would find it ready on every pass.
  streams.clear();
  char const piece[20] = {1};
  ASSERT_TRUE(test::switch_board().deliver("/dev/rtp", piece, sizeof piece));
  test::run_until([&] { return !streams.err().empty(); }, 1000);
  EXPECT_EQ(streams.err(), "rtp[2048]: fail to read from rtp: short record of 20 bytes\n");
  EXPECT_EQ(streams.log().find("rtp event"), std::string::npos);
  EXPECT_EQ(stand_in("set rtp event 2048 1 4 500"), Lines{"ok"});
  got = controller.receive(1);
  LGCP::Signal const* const rtp = signal_of(got, LGCP::Signal::rtp::id);
  ASSERT_NE(rtp, nullptr);
  EXPECT_EQ(rtp->get_rtp().get_pd().get_value().getValue(), 4);
  streams.clear();
  ASSERT_TRUE(test::switch_board().deliver("/dev/rtp", piece, 0));
  test::run_until([&] { return !streams.err().empty(); }, 1000);
  EXPECT_EQ(streams.err(), "rtp[2048]: rtp hung up: no more events\n");
  EXPECT_EQ(watches(), "0");
}

TEST_F(RtpOpsTest, TheDestroyTearsDownAndCleansTheReceivers) {
  make_slot();
  ASSERT_TRUE(is_success(ioctl(10, 7, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); }).at(0)));
  ASSERT_TRUE(is_success(ioctl(11, 7, [](LGCP::IoctlParams& p) { p.select_activateWaitTone(); }).at(0)));
  stand_in("clear");
  ASSERT_TRUE(is_success(command(12, 7, [](LGCP::Command& c) { c.select_destroy(); }).at(0)));
  EXPECT_EQ(ioctls(), (Lines{"/dev/rtp ioctl teardown-1 value=0x0", "/dev/rtp ioctl teardown-2 value=0x0",
                             "/dev/rtp ioctl teardown-3 value=0x0", "/dev/rtp ioctl pd-reset value=1",
                             "/dev/hal ioctl disable output=2048", "/dev/dtmf ioctl DTMF_DISABLE_DETECTOR value=0x800",
                             "/dev/dtmf ioctl DTMF_DIAL ts=2048 f1=0 f2=0 a1=0 a2=0",
                             "/dev/dsp ioctl DSPROC_DISABLE ts=2048 mask=0x100"}));
  EXPECT_EQ(stand_in("state rtp"), (Lines{"sessions=0 channels=", "ok"}));
}

}  // namespace
