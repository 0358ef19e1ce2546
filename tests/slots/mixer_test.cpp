// Mixer slots through the slot table, on the shared stand-in's mixer: the life of a unit
// across scans, the bounds of a unit's reset, which ioctls each kind answers, and the
// tone an output must not leave sounding.

#include "slots/mixer/mixer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "boardsim/control.h"
#include "foundation/board_io.h"
#include "server/start_up/slot_factories.h"
#include "slots/mixer/mixer_factory.h"
#include "tests/slots/mixer_messages.h"
#include "tests/slots/slot_table_fixture.h"
#include "tests/support/board_fixture.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;
using mixer_test::rtp;
using mixer_test::tdm;
using Messages = std::vector<LGCP::Message>;

constexpr int kUnsupported = LGCP::ErrorCause::unsupported;
constexpr int kInsufficientResources = LGCP::ErrorCause::insufficientResources;

class MixerTest : public test::SlotTableTest {
protected:
  MixerTest() { MakeSlotFactories(); }
  // The units go, so the next test's scan starts from none; the slots go with the link.
  ~MixerTest() override {
    for (int unit : m_units) board("set mixer remove " + std::to_string(unit));
    Mixer::MixerFactory::instance().RefreshResources();
  }

  std::vector<std::string> board(std::string const& line) {
    return BoardSim::control_command(test::switch_board(), line);
  }
  void set_unit(int unit, int channels, int inputs, int first_timeslot) {
    std::ostringstream line;
    line << "set mixer unit " << unit << ' ' << channels << ' ' << inputs << ' ' << first_timeslot;
    ASSERT_EQ(board(line.str()).back(), "ok");
    m_units.insert(unit);
  }
  void remove_unit(int unit) {
    ASSERT_EQ(board("set mixer remove " + std::to_string(unit)).back(), "ok");
    m_units.erase(unit);
  }
  // The messages of a query: its success, the signals before its report, the report.
  Messages query(int seq, std::size_t signals = 0) {
    return controller.exchange(test_server::command(seq, -1, [](LGCP::Command& c) { c.select_query(); }), 2 + signals);
  }
  static LGCP::Resources const* report(Messages const& got) {
    for (auto const& m : got)
      if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
        return &m.get_pdu().get_signal().get_query();
    return nullptr;
  }
  std::vector<int> units(int seq) {
    Messages const got = query(seq);
    LGCP::Resources const* r = report(got);
    return r ? mixer_test::units_of(*r) : std::vector<int>{};
  }
  // The answer's error cause, -1 for success.
  int answer(LGCP::Message const& command) {
    Messages const got = controller.exchange(command);
    if (got.empty()) return -2;
    return is_success(got[0]) ? -1 : error_of(got[0]);
  }
  int destroy(int seq, int slot) {
    return answer(test_server::command(seq, slot, [](LGCP::Command& c) { c.select_destroy(); }));
  }
  // The stand-in's requests of a device, without their times.
  static std::vector<std::string> requests(char const* device, std::string_view name = {}) {
    std::vector<std::string> lines;
    for (auto const& request : test::switch_board().requests(device, name)) {
      std::ostringstream text;
      text << request;
      lines.push_back(text.str().substr(text.str().find(' ') + 1));
    }
    return lines;
  }

  std::set<int> m_units;
  // The stand-in's lines for what it refuses: the end of its unit list among them.
  test::DiagCapture m_refusals;
};

// The abort signals among the messages, as the slots they name.
std::vector<int> aborted(Messages const& got) {
  std::vector<int> slots;
  for (auto const& m : got) {
    if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().abort_isSelected()) continue;
    EXPECT_EQ(m.get_pdu().get_signal().get_abort().getValue(), 0);
    slots.push_back(static_cast<int>(m.get_slot().getValue()));
  }
  return slots;
}

TEST_F(MixerTest, AVanishedUnitTellsItsSlotsAndGoesWithTheLastOfThem) {
  unsigned const before = Mixer::Mixer::instances();
  EXPECT_EQ(answer(mixer_test::create_input(1, 10, 3, tdm(0))), kInsufficientResources) << "no scan yet";
  set_unit(3, 4, 4, 512);
  set_unit(5, 4, 4, 600);
  EXPECT_EQ(units(2), (std::vector<int>{3, 5}));
  EXPECT_EQ(Mixer::Mixer::instances(), before + 2);
  EXPECT_EQ(answer(mixer_test::create_output(3, 11, 3, tdm(1))), -1);
  EXPECT_EQ(answer(mixer_test::create_input(4, 10, 3, tdm(2))), -1);
  EXPECT_EQ(answer(mixer_test::create_output(5, 12, 5, tdm(0))), -1);

  remove_unit(3);
  Messages got = query(6, 2);
  EXPECT_EQ(aborted(got), (std::vector<int>{11, 10})) << "in the unit's list order, and only its slots";
  ASSERT_NE(report(got), nullptr);
  EXPECT_EQ(mixer_test::units_of(*report(got)), (std::vector<int>{5}));
  EXPECT_EQ(Mixer::Mixer::instances(), before + 2) << "the dropped unit lives while its slots do";
  EXPECT_EQ(answer(mixer_test::create_input(7, 13, 3, tdm(0))), kInsufficientResources);

  // Back under the same number: a new unit, reset at once, beside the old one.
  set_unit(3, 4, 4, 512);
  test::switch_board().clear_requests();
  streams.clear();
  EXPECT_EQ(units(8), (std::vector<int>{5, 3})) << "the new unit after those listed";
  EXPECT_EQ(requests(Board::kMixer, "ioctl MIX_RX_CLEAR"),
            (std::vector<std::string>{"/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=0",
                                      "/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=1",
                                      "/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=2",
                                      "/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=3"}));
  EXPECT_NE(streams.log().find("mixer [3]: clear all inputs\n"), std::string::npos);
  EXPECT_EQ(Mixer::Mixer::instances(), before + 3);
  EXPECT_EQ(answer(mixer_test::create_input(9, 13, 3, tdm(0))), -1);

  EXPECT_EQ(destroy(10, 10), -1);
  EXPECT_EQ(Mixer::Mixer::instances(), before + 3);
  EXPECT_EQ(destroy(11, 11), -1);
  EXPECT_EQ(Mixer::Mixer::instances(), before + 2) << "the old unit goes with its last slot";

  // A unit without slots goes with the scan that misses it.
  EXPECT_EQ(destroy(12, 12), -1);
  remove_unit(5);
  EXPECT_EQ(aborted(query(13)), std::vector<int>{});
  EXPECT_EQ(Mixer::Mixer::instances(), before + 1);
  EXPECT_EQ(destroy(14, 13), -1);
}

TEST_F(MixerTest, TheSlotsOfAVanishedUnitLeaveTheConferenceOfItsSuccessorAlone) {
  set_unit(3, 4, 4, 512);
  ASSERT_EQ(units(1), std::vector<int>{3});
  ASSERT_EQ(answer(mixer_test::create_output(2, 11, 3, tdm(1))), -1);
  ASSERT_EQ(answer(mixer_test::create_input(3, 10, 3, tdm(2), tdm(1))), -1);
  remove_unit(3);
  ASSERT_EQ(aborted(query(4, 2)), (std::vector<int>{11, 10}));
  set_unit(3, 4, 4, 512);
  ASSERT_EQ(units(5), std::vector<int>{3});
  // The new conference on the same channels: channel 2 summed into channel 1, both fed.
  ASSERT_EQ(answer(mixer_test::create_output(6, 13, 3, tdm(1), {{tdm(2), 5}})), -1);
  ASSERT_EQ(answer(mixer_test::create_input(7, 14, 3, tdm(1))), -1);
  ASSERT_EQ(answer(mixer_test::create_input(8, 15, 3, tdm(2))), -1);

  test::switch_board().clear_requests();
  EXPECT_EQ(destroy(9, 11), -1);
  EXPECT_EQ(destroy(10, 10), -1);
  EXPECT_EQ(requests(Board::kMixer), std::vector<std::string>{});
  EXPECT_EQ(requests(Board::kDsp), std::vector<std::string>{}) << "the timeslots' receivers are the new slots'";
  EXPECT_EQ(board("state mixer 3 1")[0], "sum 3/1: 2@5");
  for (std::string const& request : requests(Board::kHal, "ioctl disable"))
    EXPECT_TRUE(request.find("output=513") == std::string::npos && request.find("output=514") == std::string::npos)
        << request;
}

TEST_F(MixerTest, AUnitOfManyChannelsCountsAsOf1024) {
  set_unit(9, 5000, 8, 0);
  test::switch_board().clear_requests();
  Messages const got = query(1);
  ASSERT_NE(report(got), nullptr);
  EXPECT_EQ(mixer_test::mixer_entries(*report(got)), (std::vector<std::vector<int>>{{9, 1024, 1024, 8, 770, 17, 24}}));
  EXPECT_EQ(test::switch_board().dropped_requests(), 0u);
  auto const clears = requests(Board::kMixer, "ioctl MIX_RX_CLEAR");
  ASSERT_EQ(clears.size(), 1024u) << "the reset clears the channels the unit counts as";
  EXPECT_EQ(clears.back(), "/dev/mixer ioctl MIX_RX_CLEAR dev_no=9 type=0 number=1023");

  test::switch_board().clear_requests();
  EXPECT_EQ(answer(mixer_test::create_output(2, 11, 9, tdm(1024))), kInsufficientResources);
  EXPECT_EQ(answer(mixer_test::create_output(3, 11, 9, tdm(1023))), -1);
  auto const timeslots = requests(Board::kMixer, "ioctl MIX_TDM");
  EXPECT_EQ(timeslots, (std::vector<std::string>{"/dev/mixer ioctl MIX_TDM dev_no=9 type=0 number=1023 result=1023"}));
}

TEST_F(MixerTest, ARefusedOutputChannelLeavesItsSumAlone) {
  set_unit(3, 32, 8, 512);
  set_unit(7, 16, 4, 640);
  ASSERT_EQ(units(1), (std::vector<int>{3, 7}));
  // The summator is not judged: channel 20 of unit 3 sums this input.
  EXPECT_EQ(answer(mixer_test::create_input(2, 10, 3, tdm(0), tdm(20))), -1);
  EXPECT_EQ(board("state mixer 3 20")[0], "sum 3/20: 0@32767");

  test::switch_board().clear_requests();
  EXPECT_EQ(answer(mixer_test::create_output(3, 11, 3, tdm(20), {{tdm(1), 5}})), kInsufficientResources)
      << "16 channels, the smaller count, bound every unit";
  EXPECT_EQ(answer(mixer_test::create_output(4, 11, 3, tdm(-1))), kInsufficientResources);
  EXPECT_EQ(answer(mixer_test::create_output(5, 11, 3, rtp(0))), kInsufficientResources);
  EXPECT_EQ(requests(Board::kMixer), std::vector<std::string>{}) << "no request for a refused channel";
  EXPECT_EQ(board("state mixer 3 20")[0], "sum 3/20: 0@32767");
  EXPECT_NE(streams.log().find("mixer [3]: ClearTX error: translation fail\n"), std::string::npos);
}

TEST_F(MixerTest, EachKindAnswersItsOwnIoctls) {
  set_unit(3, 4, 4, 512);
  ASSERT_EQ(units(1), std::vector<int>{3});
  ASSERT_EQ(answer(mixer_test::create_input(2, 10, 3, tdm(1))), -1);
  ASSERT_EQ(answer(mixer_test::create_output(3, 11, 3, tdm(2))), -1);

  using Fill = std::function<void(LGCP::IoctlParams&)>;
  struct Case {
    char const* name;
    Fill fill;
    bool input, output;  // answered success
  };
  std::vector<Case> const cases = {
      {"echoSuppressor", [](auto& p) { p.select_echoSuppressor(true); }, true, false},
      {"dtmf-enable", [](auto& p) { p.select_dtmf_enable(true); }, true, false},
      {"dtmf-reject-enable", [](auto& p) { p.select_dtmf_reject_enable(true); }, true, false},
      {"iva-params", [](auto& p) { p.select_iva_params().set_det_lvl_dB(-30); }, true, false},
      {"rx-gain", [](auto& p) { p.select_rx_gain().set_gainDB(0x1F6); }, true, false},
      {"dtmf-reject-disable", [](auto& p) { p.select_dtmf_reject_disable(); }, false, true},
      {"tone-gen-enable",
       [](auto& p) {
         p.select_tone_gen_enable().set_freq(425);
         p.ref_tone_gen_enable().set_amp(100);
       },
       false, true},
      {"tone-gen-disable", [](auto& p) { p.select_tone_gen_disable(); }, false, true},
      {"dtmf-disable, no string sent", [](auto& p) { p.select_dtmf_disable(); }, false, false},
      {"vad-enable", [](auto& p) { p.select_vad_enable(true); }, true, true},
      {"sd-disable", [](auto& p) { p.select_sd_disable(); }, true, true},
      {"iva-enable", [](auto& p) { p.select_iva_enable(false); }, true, true},
      {"delays", [](auto& p) { p.select_delays().set_tx(40); }, true, true},
      {"activateWaitTone", [](auto& p) { p.select_activateWaitTone(); }, false, false},
  };
  int seq = 4;
  for (Case const& c : cases) {
    for (int slot : {10, 11}) {
      bool const ok = slot == 10 ? c.input : c.output;
      EXPECT_EQ(answer(mixer_test::ioctl(seq++, slot, c.fill)), ok ? -1 : kUnsupported)
          << c.name << (slot == 10 ? " on the input" : " on the output");
    }
  }
  // The switch's refresh fills the log as the loop runs: read it right after the request.
  test::switch_board().clear_requests();
  answer(mixer_test::ioctl(seq++, 10, [](auto& p) { p.select_rx_gain().set_gainDB(0x1F6); }));
  answer(mixer_test::ioctl(seq++, 11, [](auto& p) { p.select_delays().set_tx(40); }));
  EXPECT_EQ(requests(Board::kDsp, "ioctl DSPROC_CONFIGURE"),
            (std::vector<std::string>{"/dev/dsp ioctl DSPROC_CONFIGURE ts=513 kind=RX_GAIN gain=246",
                                      "/dev/dsp ioctl DSPROC_CONFIGURE ts=514 kind=DELAYS rx=0 tx=40"}))
      << "the gain's low byte; an absent delay is 0";
  EXPECT_EQ(destroy(60, 10), -1);
  EXPECT_EQ(destroy(61, 11), -1);
}

TEST_F(MixerTest, AnOutputsToneStopsWithItUnlessStoppedBefore) {
  set_unit(3, 4, 4, 512);
  ASSERT_EQ(units(1), std::vector<int>{3});
  std::string const off = "/dev/dtmf ioctl DTMF_DIAL ts=513 f1=0 f2=0 a1=0 a2=0";
  auto const dials = [] { return requests(Board::kDtmf, "ioctl DTMF_DIAL"); };

  ASSERT_EQ(answer(mixer_test::create_output(2, 11, 3, tdm(1))), -1);
  test::switch_board().clear_requests();
  EXPECT_EQ(answer(mixer_test::tone_gen_enable(3, 11, 1000, 70000)), -1);
  EXPECT_EQ(dials(), std::vector<std::string>{"/dev/dtmf ioctl DTMF_DIAL ts=513 f1=1000 f2=0 a1=4464 a2=0"})
      << "the amplitude cut to 16 bits";
  test::switch_board().clear_requests();
  EXPECT_EQ(destroy(4, 11), -1);
  EXPECT_EQ(dials(), std::vector<std::string>{off}) << "the tone stops with its output";

  ASSERT_EQ(answer(mixer_test::create_output(5, 11, 3, tdm(1))), -1);
  EXPECT_EQ(answer(mixer_test::tone_gen_enable(6, 11, 1000, 8000)), -1);
  EXPECT_EQ(answer(mixer_test::ioctl(7, 11, [](auto& p) { p.select_tone_gen_disable(); })), -1);
  test::switch_board().clear_requests();
  EXPECT_EQ(destroy(8, 11), -1);
  EXPECT_EQ(dials(), std::vector<std::string>{}) << "a tone stopped before needs no stop";

  // A digit string takes the generator over, and switches it off at its end.
  ASSERT_EQ(answer(mixer_test::create_output(9, 11, 3, tdm(1))), -1);
  EXPECT_EQ(answer(mixer_test::tone_gen_enable(10, 11, 1000, 8000)), -1);
  Messages const sent = controller.exchange(mixer_test::ioctl(11, 11, [](auto& p) { p.select_translateDTMF(); }), 2);
  ASSERT_EQ(sent.size(), 2u);
  ASSERT_TRUE(sent[0].get_pdu().signal_isSelected()) << "dtmfDone comes before the answer";
  EXPECT_TRUE(sent[0].get_pdu().get_signal().get_tonec().get_event().dtmfDone_isSelected());
  EXPECT_TRUE(is_success(sent[1]));
  test::switch_board().clear_requests();
  EXPECT_EQ(destroy(12, 11), -1);
  EXPECT_EQ(dials(), std::vector<std::string>{});
}

}  // namespace
