// Driver events injected into the stand-in's "/dev/dtmf" and "/dev/dsp" reach the
// controller through the real control server as the signals of the slot whose timeslot
// they name; the events no slot takes are dropped with their lines.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <sstream>

#include "boardsim/control.h"
#include "foundation/board_requests.h"
#include "foundation/trace_ctl.h"
#include "server/control_server.h"
#include "server/slots.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/channel_commands.h"
#include "tests/server/controller_end.h"
#include "tests/server/event_slot.h"
#include "tests/support/record_bytes.h"
#include "tests/support/switch_board.h"

namespace {

using Lines = std::vector<std::string>;
using lgcp_test::hex_text;
using test_server::EventSlot;

std::string text(LGCP::Message const& message) {
  std::ostringstream os;
  os << message;
  return os.str();
}

// The controller's view of `signal` raised by slot `slot`.
std::string signal_text(unsigned slot, LGCP::Signal const& signal) {
  LGCP::Message message;
  message.set_slot(slot);
  message.set_pdu().select_signal(signal);
  return text(message);
}

std::string tonec(unsigned slot, int timestamp, std::function<void(LGCP::TonecCode&)> const& code) {
  LGCP::Signal signal;
  LGCP::TonecEvent& event = signal.select_tonec();
  event.set_timestamp(timestamp);
  code(event.set_event());
  return signal_text(slot, signal);
}

std::string vad(unsigned slot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::VADEvent& event = signal.select_vad();
  if (rx >= 0) event.set_vad_rx(rx != 0);
  if (tx >= 0) event.set_vad_tx(tx != 0);
  return signal_text(slot, signal);
}

class DriverEventsTest : public ::testing::Test {
protected:
  DriverEventsTest() {
    // Both devices open, as in a daemon whose slots have used them.
    Hardware::TonecReceiverService::instance();
    Hardware::DSProcReceiverService::instance();
    Slots::instance().set_release_pause(std::chrono::milliseconds(0));
    server.Bind(&watch);
    server.Bind(&Slots::instance());
    server.Activate(controller.link());
    test::run_until([&] { return watch.connects == 1; }, 100);
    streams.clear();
  }
  ~DriverEventsTest() override {
    traces.signalling.events = false;
    server.Deactivate();
  }

  std::string control(std::string const& line) {
    Lines const answer = BoardSim::control_command(test::switch_board(), line);
    return answer.empty() ? "" : answer.back();
  }
  // The signals that reach the controller for the injected lines, as text.
  Lines signals(Lines const& lines, std::size_t expected) {
    for (auto const& line : lines) EXPECT_EQ(control(line), "ok") << line;
    Lines got;
    for (auto const& m : controller.receive(expected)) got.push_back(text(m));
    test::run_until([] { return false; }, 50);
    for (auto const& m : controller.pending()) got.push_back(text(m));
    return got;
  }
  // A field of the stand-in's state line for the timeslot ("state dtmf 5", " id=").
  std::string state_field(char const* device, unsigned ts, std::string const& name) {
    std::string const line = test::switch_board().command(device, "state", {std::to_string(ts)}).lines.at(0) + ' ';
    std::size_t const at = line.find(' ' + name + '=') + name.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
  }
  std::string dtmf_id(unsigned ts) { return state_field(Board::kDtmf, ts, "id"); }
  // The log stream without the loop's own lines.
  std::string log() const {
    std::istringstream lines(streams.log());
    std::string kept;
    for (std::string line; std::getline(lines, line);)
      if (!line.starts_with("Mux: ")) kept += line + '\n';
    return kept;
  }
  std::vector<std::string> reads(char const* device) {
    std::vector<std::string> fields;
    for (auto const& r : test::switch_board().requests(device, "read")) fields.push_back(r.fields);
    return fields;
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::SwitchBoardScope board;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  test_server::ConnectCounter watch;
};

TEST_F(DriverEventsTest, ToneCodesBecomeTonecSignals) {
  EventSlot slot(7, 5);
  ASSERT_TRUE(slot.enableDTMF(true));
  streams.clear();
  Lines const got = signals({"set dtmf event 5 17 1", "set dtmf event 5 127 2", "set dtmf event 5 128 3",
                             "set dtmf event 5 0x0500 4", "set dtmf event 5 0x1500 5", "set dtmf event 5 0x1600 6"},
                            4);
  EXPECT_EQ(got, (Lines{tonec(7, 1, [](LGCP::TonecCode& c) { c.select_ced(); }),
                        tonec(7, 2, [](LGCP::TonecCode& c) { c.select_dtmf(127); }),
                        tonec(7, 4, [](LGCP::TonecCode& c) { c.select_iva().select_code(5); }),
                        tonec(7, 5, [](LGCP::TonecCode& c) { c.select_iva().select_ringoff(); })}));
  EXPECT_EQ(streams.err(), "bad DTMF code, ignored.\nbad DTMF code, ignored.\n") << "128 and 0x1600";
  std::string const id = dtmf_id(5);
  EXPECT_NE(log().find("dtmf event:  timestamp=1 timeslot=5 code=17 id=" + id + "\n"), std::string::npos);

  EXPECT_EQ(signals({"set dtmf event 5 18 7"}, 1), Lines{tonec(7, 7, [](LGCP::TonecCode& c) { c.select_cng(); })});
  slot.translateDTMF(LGCP::TranslateDtmfParams());
  EXPECT_EQ(signals({}, 1), Lines{tonec(7, 0, [](LGCP::TonecCode& c) { c.select_dtmfDone(); })});
}

TEST_F(DriverEventsTest, DspEventsBecomeVadSdBssSelcalAndTonePresenceSignals) {
  EventSlot slot(12, 6);
  ASSERT_TRUE(slot.enableVAD(true));
  ASSERT_TRUE(slot.enableSD(true));
  ASSERT_TRUE(slot.enableBSS(true));
  streams.clear();
  LGCP::Signal high, low, sd, selcal;
  high.select_bss().set_score("1.500000");
  low.select_bss().set_score("300000000549775575777803994281");
  sd.select_sd().set_sd_rx(true);
  selcal.select_selcal().set_in_progress(true);
  Lines const got = signals({"set dsp event 6 vad 1 0 -1", "set dsp event 6 vad 0 1 1", "set dsp event 6 vad 2 5 1",
                             "set dsp event 6 flags 0xa0000000 0xe0000000", "set dsp event 6 flags 0xffffffff 0x1fffffff",
                             "set dsp event 6 bss 1.5", "set dsp event 6 bss 3e38", "set dsp event 6 sd 7",
                             "set dsp event 6 sd -1", "set dsp event 6 tone 2100 1"},
                            8);
  LGCP::TonePresence presence;
  presence.set_freq(2100);
  presence.set_presence(true);
  EXPECT_EQ(got, (Lines{vad(12, 0, -1), vad(12, -1, 1), vad(12, 1, 0), signal_text(12, selcal), signal_text(12, high),
                        signal_text(12, low), signal_text(12, sd),
                        tonec(12, 0, [&](LGCP::TonecCode& c) { c.select_tone_presence(presence); })}));
  EXPECT_EQ(streams.err(), "bad VAD event, ignored.\nbad SD event, ignored.\n")
      << "a record with neither direction, and a negative SD";
  EXPECT_EQ(log().find("dsproc"), std::string::npos) << "no event lines without the trace switch";
}

TEST_F(DriverEventsTest, AFreshReceiverTakesVadOfIdZeroFlagsAndTonesButNoBss) {
  EventSlot slot(14, 40);
  LGCP::Signal sd, selcal;
  sd.select_sd().set_sd_rx(false);
  selcal.select_selcal().set_in_progress(false);
  LGCP::TonePresence silent;
  silent.set_freq(400);
  silent.set_presence(false);
  EXPECT_EQ(signals({"set dsp event 40 vad 3 1 1 0", "set dsp event 40 bss 2.5 0", "set dsp event 40 sd 0 0",
                     "set dsp event 40 flags 0 0x80000000 9", "set dsp event 40 tone 400 0 9"},
                    4),
            (Lines{vad(14, 1, 1), signal_text(14, sd), signal_text(14, selcal),
                   tonec(14, 0, [&](LGCP::TonecCode& c) { c.select_tone_presence(silent); })}))
      << "VAD and SD never switched pass with the id 0 they hold; BSS starts off";
}

TEST_F(DriverEventsTest, RtpEventsOfTypeOneBecomeRtpSignals) {
  EventSlot slot(3, 2);
  slot.processRtpEvent(Board::rtp_event{1, 250, 4000, {}});
  slot.processRtpEvent(Board::rtp_event{2, 1, 1, {}});
  LGCP::Signal rtp;
  LGCP::RtpPDEvent& pd = rtp.select_rtp().select_pd();
  pd.set_value(250);
  pd.set_timeout(4000);
  EXPECT_EQ(signals({}, 1), Lines{signal_text(3, rtp)});
}

TEST_F(DriverEventsTest, SpuriousDisabledAndUnknownEventsAreDroppedWithTheirLines) {
  EventSlot slot(7, 5);
  EXPECT_EQ(signals({"set dtmf event 5 49 1 3"}, 0), Lines{});
  ASSERT_TRUE(slot.enableDTMF(true));
  std::string const id = dtmf_id(5);
  EXPECT_EQ(signals({"set dtmf event 5 49 2 0", "set dtmf event 9 49 3 1"}, 0), Lines{});
  EXPECT_EQ(log(), "dtmf event:  timestamp=1 timeslot=5 code=49 id=3\n"
                           "ignore spurious dtmf event (DTMF disabled):  timestamp=1 timeslot=5 code=49 id=3\n"
                           "dtmf event:  timestamp=2 timeslot=5 code=49 id=0\n"
                           "ignore spurious dtmf event:  timestamp=2 timeslot=5 code=49 id=0 rid=" + id + "\n"
                           "dtmf event:  timestamp=3 timeslot=9 code=49 id=1\n");
  EXPECT_EQ(streams.err().substr(streams.err().find("receive")), "receive tonec event from unknown timeslot 9\n");

  // DSP drops are told only with the events trace switch on.
  ASSERT_TRUE(slot.enableVAD(true));
  EXPECT_EQ(signals({"set dsp event 5 vad 1 1 0 0", "set dsp event 5 bss 1.5", "set dsp event 9 sd 1"}, 0), Lines{});
  EXPECT_EQ(log().find("dsproc"), std::string::npos);
  streams.clear();
  traces.signalling.events = true;
  ASSERT_TRUE(slot.disableSD());
  // A type no function has: ts, id and type at 0, 4 and 8 of the 24 bytes.
  std::string const unknown_hex = hex_text(test::RecordBytes(24).u32(0, 5).u32(4, 0).u32(8, 4).str());
  EXPECT_EQ(signals({"set dsp event 5 vad 1 1 0 0", "set dsp event 5 bss 1.5 3", "set dsp event 5 sd 1 0",
                     "set dsp event 9 sd 1", "set dsp event 5 flags 0x1 0x2 4", "deliver dsp " + unknown_hex},
                    0),
            Lines{});
  EXPECT_EQ(log(),
            "dsproc event:  timeslot=5 id=0 type=1\n"
            "dsproc vad event:  dir_mask=1 vad_rx=1 vad_tx=0\n"
            "ignore spurious dsproc vad event:  timeslot=5 id=0 type=1 rid=" + state_field(Board::kDsp, 5, "vad") + "\n"
            "dsproc event:  timeslot=5 id=3 type=16\n"
            "dsproc bss event:  score=1.5\n"
            "ignore spurious dsproc bss event (dsproc disabled):  timeslot=5 id=3 type=16\n"
            "dsproc event:  timeslot=5 id=0 type=2\n"
            "dsproc sd event:  sd_rx=1\n"
            "ignore spurious dsproc vad event (dsproc disabled):  timeslot=5 id=0 type=2\n"
            "dsproc event:  timeslot=9 id=0 type=2\n"
            "dsproc sd event:  sd_rx=1\n"
            "dsproc event:  timeslot=5 id=4 type=512\n"
            "dsproc flags event:  flags=1, mask=2\n"
            "dsproc event:  timeslot=5 id=0 type=4\n");
  EXPECT_EQ(streams.err().substr(streams.err().find("receive")), "receive dsproc event from unknown timeslot 9\n");
}

TEST_F(DriverEventsTest, ReceiversSharingATimeslotEachGetTheirOwnEvents) {
  EventSlot input(20, 8), output(21, 8);
  ASSERT_TRUE(output.enableDTMF(true));
  ASSERT_TRUE(output.enableVAD(true));
  EXPECT_EQ(signals({"set dtmf event 8 1 10", "set dsp event 8 vad 1 1 0"}, 2),
            (Lines{tonec(21, 10, [](LGCP::TonecCode& c) { c.select_dtmf(1); }), vad(21, 1, -1)}))
      << "the second-built receiver's own events reach it";
  ASSERT_TRUE(input.enableDTMF(true));
  ASSERT_TRUE(input.enableVAD(true));
  EXPECT_EQ(signals({"set dtmf event 8 2 11", "set dsp event 8 vad 1 0 0"}, 2),
            (Lines{tonec(20, 11, [](LGCP::TonecCode& c) { c.select_dtmf(2); }), vad(20, 0, -1)}));
  streams.clear();
  traces.signalling.events = true;
  EXPECT_EQ(signals({"set dtmf event 8 3 12 0", "set dsp event 8 vad 1 0 0 0",
                     "set dsp event 8 flags 0x20000000 0x20000000"},
                    1),
            Lines{vad(20, 1, -1)})
      << "an event for neither is the first's to drop; flags go to the first";
  EXPECT_NE(log().find("ignore spurious dtmf event:  timestamp=12 timeslot=8 code=3 id=0 rid=" + dtmf_id(8)),
            std::string::npos);
  EXPECT_NE(log().find("ignore spurious dsproc vad event:  timeslot=8 id=0 type=1 rid="), std::string::npos);
}

TEST_F(DriverEventsTest, ReceiversThatComeAndGoAreFoundFromTheNextEventOn) {
  auto older = std::make_unique<EventSlot>(30, 31);
  ASSERT_TRUE(older->enableDTMF(true));
  std::string const older_id = dtmf_id(31);
  EXPECT_EQ(signals({"set dtmf event 31 1 1"}, 1), Lines{tonec(30, 1, [](LGCP::TonecCode& c) { c.select_dtmf(1); })});
  EventSlot newer(32, 31);
  ASSERT_TRUE(newer.enableDTMF(true));
  EXPECT_EQ(signals({"set dtmf event 31 2 2"}, 1), Lines{tonec(32, 2, [](LGCP::TonecCode& c) { c.select_dtmf(2); })});
  older.reset();
  streams.clear();
  EXPECT_EQ(signals({"set dtmf event 31 3 3 " + older_id}, 0), Lines{});
  EXPECT_EQ(log().substr(log().find('\n') + 1), "ignore spurious dtmf event:  timestamp=3 timeslot=31 code=3 id=" +
                                                     older_id + " rid=" + dtmf_id(31) + "\n")
      << "the newer receiver is the first on the timeslot now";
  EXPECT_EQ(signals({"set dtmf event 33 4 4"}, 0), Lines{});
  EXPECT_EQ(streams.err(), "receive tonec event from unknown timeslot 33\n");
}

// An empty read is the device's end, which stops its watch for the whole process: the
// hardware/open tests make it, each in a child.
TEST_F(DriverEventsTest, AShortReadEndsThePassAndTheDeviceStaysWatched) {
  EventSlot slot(7, 5);
  ASSERT_TRUE(slot.enableDTMF(true));
  streams.clear();
  test::switch_board().clear_requests();
  EXPECT_EQ(signals({"deliver dtmf 01000000 05000000 0a00", "set dtmf event 5 4 13"}, 1),
            Lines{tonec(7, 13, [](LGCP::TonecCode& c) { c.select_dtmf(4); })});
  EXPECT_EQ(reads(Board::kDtmf), (Lines{"len=16 got=10", "len=16 got=16", "len=16"}))
      << "the short record ends its pass; the next pass reads the whole one";
  EXPECT_EQ(streams.err(), "fail to read from tonec: short record of 10 bytes\n");

  streams.clear();
  test::switch_board().clear_requests();
  EXPECT_EQ(signals({"deliver dsp 0500 0000", "deliver dsp 050000000000000002"}, 0), Lines{});
  EXPECT_EQ(reads(Board::kDsp), (Lines{"len=24 got=4", "len=24 got=9"}));
  EXPECT_EQ(streams.err(), "fail to read from dsproc: short record of 4 bytes\n"
                           "fail to read from dsproc: short record of 9 bytes\n");
}

}  // namespace
