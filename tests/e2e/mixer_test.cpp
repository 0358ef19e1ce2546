// A conference on the stand-in's mixer units, driven by the controller: what the resources
// query finds, the sums the slots build, their timeslots on the switch, tones and DSP
// events on them, a unit that vanishes, and what the daemon refuses or bounds.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e/slot_scene.h"
#include "tests/slots/mixer_messages.h"

namespace {

using namespace e2e;
using mixer_test::rtp;
using mixer_test::tdm;

constexpr int kInsufficientResources = 1;
constexpr int kUnsupported = 6;
constexpr int kConnectFail = 9;
constexpr int kQuietMs = 300;

using Entries = std::vector<std::vector<int>>;

// The kept or next signal of this alternative on `slot` (any slot when negative).
std::optional<LGCP::Message> next_signal(Controller& c, int alternative, int slot, int wait_ms = 5000) {
  return c.signal(signal_of(alternative, slot), wait_ms);
}

// Sends a query, checks its success and returns its report (empty when none came).
LGCP::Resources query_report(Controller& c, test::Failures& f, int seq) {
  answered(c, f, query(seq), "query " + std::to_string(seq));
  auto const report = next_signal(c, LGCP::Signal::query::id, -1);
  f.check(report.has_value(), "query " + std::to_string(seq) + ": a report");
  return report ? report->get_pdu().get_signal().get_query() : LGCP::Resources();
}

// The stand-in's requests of the mixer that reached the driver, without opens and closes.
std::vector<std::string> mixer_ioctls(test::BoardSimClient& board) {
  std::vector<std::string> ioctls;
  for (std::string const& line : board.requests("mixer"))
    if (line.starts_with("/dev/mixer ioctl ")) ioctls.push_back(line);
  return ioctls;
}

// Lines as one text, for messages that show both sides.
std::string lines(std::vector<std::string> const& list) {
  std::string text;
  for (std::string const& line : list) text += line + '\n';
  return text;
}

std::size_t count_with(std::vector<std::string> const& lines, std::string const& part) {
  return static_cast<std::size_t>(
      std::count_if(lines.begin(), lines.end(), [&](std::string const& l) { return l.find(part) != std::string::npos; }));
}

// Every request on the mixer had an open of its own, closed right after it.
bool open_per_request(std::vector<std::string> const& lines) {
  if (lines.empty() || lines.size() % 3) return false;
  for (std::size_t i = 0; i < lines.size(); i += 3)
    if (lines[i] != "/dev/mixer open flags=O_RDONLY" || !lines[i + 1].starts_with("/dev/mixer ioctl ") ||
        lines[i + 2] != "/dev/mixer close")
      return false;
  return true;
}

std::string entries_text(Entries const& entries) {
  std::string text;
  for (auto const& entry : entries) {
    text += '{';
    for (std::size_t i = 0; i < entry.size(); ++i) text += (i ? "," : "") + std::to_string(entry[i]);
    text += '}';
  }
  return text;
}

std::string tonec_text(std::optional<LGCP::Message> const& m) {
  if (!m) return "none";
  LGCP::TonecEvent const& event = m->get_pdu().get_signal().get_tonec();
  LGCP::TonecCode const& code = event.get_event();
  std::string const at = " at " + std::to_string(event.get_timestamp().getValue());
  if (code.dtmf_isSelected()) return "dtmf " + std::to_string(code.get_dtmf().getValue()) + at;
  if (code.tone_presence_isSelected())
    return "tone " + std::to_string(code.get_tone_presence().get_freq().getValue()) +
           (code.get_tone_presence().get_presence() ? " present" : " absent") + at;
  return to_text(*m);
}

LGCP::Message dtmf_enable(int seq, int slot) {
  return mixer_test::ioctl(seq, slot, [](LGCP::IoctlParams& p) { p.select_dtmf_enable(true); });
}

void conference_scene(Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
  board.ok("set mixer unit 3 32 8 512");
  board.ok("set mixer unit 7 16 4 640");
  board.ok("clear");
  answered(c, f, mixer_test::create_input(10, 10, 3, tdm(1)), "mixerIn before any query", kInsufficientResources);
  f.equal(board.requests("mixer").size(), 0u, "no mixer request before a query");

  LGCP::Resources const report = query_report(c, f, 11);
  f.equal(entries_text(mixer_test::mixer_entries(report)), "{3,16,16,4,770,17,24}{7,16,16,4,770,17,24}",
          "both units, with the smaller counts");
  f.equal(report.get_echoBus().size(), 0u, "no echo bus");
  auto const infos = board.requests("mixer", "ioctl MIX_UNIT_INFO");
  f.equal(lines(infos), lines({"/dev/mixer ioctl MIX_UNIT_INFO dev_no=-1 got=3 tdm_channels=32 mixer_inputs=8",
                                            "/dev/mixer ioctl MIX_UNIT_INFO dev_no=3 got=7 tdm_channels=16 mixer_inputs=4",
                                            "/dev/mixer ioctl MIX_UNIT_INFO dev_no=7 -> ENODEV"}),
          "three unit requests, each given the unit named before");
  auto const clears = board.requests("mixer", "ioctl MIX_RX_CLEAR");
  f.equal(count_with(clears, "dev_no=3 "), 32u, "unit 3 reset over its 32 channels, the count so far");
  f.equal(count_with(clears, "dev_no=7 "), 16u, "unit 7 reset over 16");
  f.equal(clears.size(), 48u, "no other clear");
  f.equal(board.requests("voice", "ioctl version").size(), 1u, "the voice driver's version asked once");
  f.check(open_per_request(board.requests("mixer")), "every mixer request opens and closes the device");

  // Output 4 of unit 3 sums channels 1 and 2.
  board.ok("clear");
  answered(c, f, mixer_test::create_output(12, 11, 3, tdm(4), {{tdm(1), 100}, {tdm(2), -5}}),
           "mixerOut {3, tdm 4, [{tdm 1, 100}, {tdm 2, -5}]} on slot 11");
  f.equal(lines(mixer_ioctls(board)), lines({"/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=4",
                                                           "/dev/mixer ioctl MIX_RX_ADD rx=3/0/4 tx=3/0/1 gain=100",
                                                           "/dev/mixer ioctl MIX_RX_ADD rx=3/0/4 tx=3/0/2 gain=-5",
                                                           "/dev/mixer ioctl MIX_TDM dev_no=3 type=0 number=4 result=516"}),
          "the output's sum cleared, its inputs added, its timeslot asked");
  f.equal(lines(board.ok("state mixer 3 4")), lines({"sum 3/4: 1@100 2@-5"}), "the sum of channel 4");

  // An output and an input on channel 1; the input feeds channel 5's sum.
  board.ok("clear");
  answered(c, f, mixer_test::create_output(13, 12, 3, tdm(1)), "mixerOut {3, tdm 1, []} on slot 12");
  answered(c, f, mixer_test::create_input(14, 10, 3, tdm(1), tdm(5), mixer_test::EchoMode{true, false}),
           "mixerIn {3, tdm 1, summator tdm 5, ecm {true, false}} on slot 10");
  f.equal(lines(mixer_ioctls(board)), lines({"/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=1",
                                                           "/dev/mixer ioctl MIX_RX_ADD rx=3/0/1 tx=3/0/1 gain=32767",
                                                           "/dev/mixer ioctl MIX_TDM dev_no=3 type=0 number=1 result=513",
                                                           "/dev/mixer ioctl MIX_TDM dev_no=3 type=0 number=1 result=513",
                                                           "/dev/mixer ioctl MIX_RX_ADD rx=3/0/5 tx=3/0/1 gain=32767"}),
          "the self link of an output without inputs, then the input's summator link");
  f.equal(lines(board.requests("dtmf", "ioctl CHANNEL_LMS_ON")), lines({"/dev/dtmf ioctl CHANNEL_LMS_ON value=0x201"}),
          "the echo canceller on timeslot 513");
  bool streams = false;
  for (int slot : {10, 11, 12})
    for (int kind : {int{LGCP::Signal::transmitter::id}, int{LGCP::Signal::receiver::id}})
      streams = streams || next_signal(c, kind, slot, slot == 10 && kind == LGCP::Signal::transmitter::id ? kQuietMs : 0);
  f.check(!streams, "no stream opens before a connect");

  board.ok("clear");
  answered(c, f, connect_to(15, 3, 10), "slot 3 feeds the input");
  f.equal(next_stream(c, 10), "receiver 513", "the input's receiver on its timeslot");
  answered(c, f, create_trunk(16, 4, 0, 1), "trunk {0,1} on slot 4");
  answered(c, f, connect_to(17, 11, 4), "the output feeds slot 4");
  f.equal(next_stream(c, 11), "transmitter 516", "the output's transmitter on its timeslot");
  f.equal(lines(board.requests("hal", "ioctl connect")),
          lines({"/dev/hal ioctl connect output=513 input=37", "/dev/hal ioctl connect output=1 input=516"}),
          "the switch feeds the input's timeslot and takes the output's");
  answered(c, f, connect_to(18, 10, 11), "an input as source, an output as receiver", kConnectFail);

  // Tones and detector events on the two timeslots.
  board.ok("clear");
  answered(c, f, mixer_test::tone_gen_enable(19, 11, 1000, 8000), "tone-gen-enable {1000, 8000} on the output");
  f.equal(lines(board.requests("dtmf", "ioctl DTMF_DIAL")),
          lines({"/dev/dtmf ioctl DTMF_DIAL ts=516 f1=1000 f2=0 a1=8000 a2=0"}), "one tone");
  answered(c, f, mixer_test::tone_gen_enable(20, 10, 1000, 8000), "tone-gen-enable on the input", kUnsupported);
  answered(c, f, dtmf_enable(21, 10), "dtmf-enable on the input");
  board.ok("set dtmf event 513 5 1234");
  f.equal(tonec_text(next_signal(c, LGCP::Signal::tonec::id, 10)), "dtmf 5 at 1234",
          "the input's detector, though the output on 513 came first");
  answered(c, f, mixer_test::ioctl(22, 11,
                                   [](LGCP::IoctlParams& p) {
                                     LGCP::ToneFilter& filter = p.select_tone_filter();
                                     filter.set_freq(1000);
                                     filter.set_enable(true);
                                     filter.set_duration_th_msec(40);
                                     filter.set_det_level_dB(-30);
                                   }),
           "a tone filter on the output");
  board.ok("set dsp event 516 tone 1000 1");
  f.equal(tonec_text(next_signal(c, LGCP::Signal::tonec::id, 11)), "tone 1000 present at 0", "the output's tone filter");
  board.ok("set dsp event 516 vad 3 1 0");
  f.check(!next_signal(c, LGCP::Signal::vad::id, -1, kQuietMs), "the output drops voice activity");
  f.check(!next_signal(c, LGCP::Signal::tonec::id, 12, 0), "nothing for the output on 513");

  // The output on channel 1 goes; the input on it keeps its feed.
  answered(c, f, destroy(23, 12), "destroy slot 12");
  f.check(hal_state(board, 513).find(" input=37 ") != std::string::npos, "output 513 still takes channel 37");
  f.check(daemon.wait_output("mixer [3]: clear tdm output 1\n"), "the output's sum cleared");

  // Unit 3 vanishes: its slots are told, in their order, and go when destroyed.
  board.ok("set mixer remove 3");
  board.ok("clear");
  LGCP::Resources const after = query_report(c, f, 24);
  auto const first = next_signal(c, LGCP::Signal::abort::id, -1);
  auto const second = next_signal(c, LGCP::Signal::abort::id, -1);
  f.check(first && first->get_slot().getValue() == 11u && first->get_pdu().get_signal().get_abort().getValue() == 0,
          "abort 0 on slot 11 first");
  f.check(second && second->get_slot().getValue() == 10u && second->get_pdu().get_signal().get_abort().getValue() == 0,
          "then on slot 10");
  f.check(mixer_test::units_of(after) == std::vector<int>{7}, "only unit 7 listed");
  answered(c, f, destroy(25, 10), "destroy slot 10");
  answered(c, f, destroy(26, 11), "destroy slot 11");
  f.check(daemon.wait_output("mixer [3]: MIX_RX_REMOVE rx.number=5 tx.number=1 fail : Invalid argument\n"),
          "the summator link of a vanished unit cannot be removed");
  f.equal(lines(board.requests("dtmf", "ioctl DTMF_DIAL")), lines({"/dev/dtmf ioctl DTMF_DIAL ts=516 f1=0 f2=0 a1=0 a2=0"}),
          "the output's tone stops with it");

  // Back under its number, unit 3 is a new unit, reset at the next query.
  board.ok("set mixer unit 3 32 8 512");
  board.ok("clear");
  f.check(mixer_test::units_of(query_report(c, f, 27)) == std::vector<int>{7, 3}, "unit 3 listed after unit 7");
  f.equal(board.requests("mixer", "ioctl MIX_RX_CLEAR").size(), 32u, "unit 3 reset");
}

void refusals_scene(Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
  board.ok("set mixer unit 3 32 8 512");
  board.ok("set mixer unit 7 16 4 640");
  query_report(c, f, 10);

  board.ok("clear");
  answered(c, f, mixer_test::create_output(11, 11, 3, tdm(20)), "an output on channel 20, past 16",
           kInsufficientResources);
  f.equal(board.requests("mixer").size(), 0u, "no request for it");
  answered(c, f, mixer_test::create_output(12, 11, 3, tdm(4), {{tdm(2), 1}, {rtp(0), 1}}), "an rtp input",
           kInsufficientResources);
  f.equal(lines(mixer_ioctls(board)), lines({"/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=4",
                                                           "/dev/mixer ioctl MIX_RX_ADD rx=3/0/4 tx=3/0/2 gain=1"}),
          "refused after one clear and one add");
  f.check(daemon.wait_output("mixer [3]: SetTX error: translation fail [2]\n"), "the rtp input's line");
  answered(c, f, mixer_test::create_input(13, 12, 3, tdm(3), rtp(1)), "an rtp summator: the input is made");
  f.check(daemon.wait_output("mixer [3]: wrong summator coding !\n"), "the rtp summator's line");

  board.ok("fail mixer ioctl MIX_TDM EIO once");
  answered(c, f, mixer_test::create_input(14, 13, 3, tdm(6)), "MIX_TDM failing", kInsufficientResources);
  f.check(daemon.wait_output("mixer [3]: MIX_TDM dev_no=3 type=0 number=6 fail : Input/output error\n"),
          "the timeslot request's line");

  // A driver naming one unit for ever: the scan ends, the daemon goes on.
  answered(c, f, destroy(15, 12), "destroy slot 12");
  board.ok("set mixer repeat on");
  board.ok("clear");
  f.check(mixer_test::units_of(query_report(c, f, 16)) == std::vector<int>{3}, "the repeated unit listed once");
  f.equal(board.requests("mixer", "ioctl MIX_UNIT_INFO").size(), 100u, "exactly 100 unit requests");
  answered(c, f, ping(17), "a ping after it");
  board.ok("set mixer repeat off");

  // 150 units: every scan lists the first 100, the second as the first.
  board.ok("set mixer remove 3");
  board.ok("set mixer remove 7");
  for (int unit = 100; unit < 250; ++unit)
    board.ok("set mixer unit " + std::to_string(unit) + " 2 1 " + std::to_string(4096 + 2 * unit));
  std::vector<int> first_hundred;
  for (int unit = 100; unit < 200; ++unit) first_hundred.push_back(unit);
  f.check(mixer_test::units_of(query_report(c, f, 18)) == first_hundred, "the first scan lists 100 units");
  f.check(mixer_test::units_of(query_report(c, f, 19)) == first_hundred, "the next scan lists them again");

  int seq = 20;
  for (int bus : {0, 15, 16, -1}) {
    answered(c, f, command(seq++, 20, [bus](LGCP::Command& cmd) {
               LGCP::EchoParams& echo = cmd.select_create().select_echo();
               echo.set_bus(bus);
               echo.set_channel(1);
             }),
             "echo on bus " + std::to_string(bus), kInsufficientResources);
  }
}

TEST(Mixer, Conference) { EXPECT_EQ(with_daemon(conference_scene), ""); }

TEST(Mixer, RefusalsAndBounds) { EXPECT_EQ(with_daemon(refusals_scene), ""); }

}  // namespace
