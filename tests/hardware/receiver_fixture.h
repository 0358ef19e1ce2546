#pragma once
// The tone and DSP services against the shared stand-in, in simulated time: a receiver
// of both kinds on a fixed timeslot that records what reaches it, and the requests the
// stand-in received, read as text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boardsim/control.h"
#include "foundation/clock.h"
#include "foundation/multiplexer.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "tests/protocol/link_harness.h"
#include "tests/support/switch_board.h"

namespace test {

struct Receiver : Hardware::TonecReceiver, Hardware::DSProcReceiver {
  explicit Receiver(unsigned timeslot) : ts(timeslot) {}

  void tonec_event(Params const& params) override { tones.push_back(params); }
  unsigned tonec_timeslot() const override { return ts; }
  void tone_gen_complete() override { completed.push_back(Mux::milliseconds()); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { vads.push_back(event); }
  void dsproc_bss_event(Board::dsproc_bss_event const* event) override { scores.push_back(event->score); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { sds.push_back(event.sd_rx); }
  void dsproc_tone_flt_event(Board::dsproc_tone_event const* event) override { filters.push_back(event->freq); }
  void dsproc_flags_event(Board::dsproc_flags_event const* event) override { flags.push_back(event->flags); }
  unsigned dsproc_timeslot() const override { return ts; }

  unsigned ts;
  std::vector<Params> tones;
  std::vector<unsigned> completed;  // loop times of tone_gen_complete
  std::vector<Hardware::DSProcVADEvent> vads;
  std::vector<float> scores;
  std::vector<std::int32_t> sds;
  std::vector<std::int32_t> filters;
  std::vector<std::uint32_t> flags;
};

class ReceiverTest : public ::testing::Test {
protected:
  // Each request's fields, "+<ms since start> " first when `timed`.
  std::vector<std::string> requests(char const* device, std::string const& name, bool timed = false) const {
    std::vector<std::string> lines;
    for (auto const& r : switch_board().requests(device, name))
      lines.push_back(timed ? "+" + std::to_string(r.ms - start) + ' ' + r.fields : r.fields);
    return lines;
  }
  std::vector<std::string> dials() const { return requests(Board::kDtmf, "ioctl DTMF_DIAL", true); }
  std::vector<std::string> control(std::string_view line) { return BoardSim::control_command(switch_board(), line); }
  // Runs the loop for `ms` of simulated time.
  static void run_for(unsigned ms) {
    StopAfter stop(ms);
    multiplexer.run(false, true);
  }
  void clear() {
    streams.clear();
    switch_board().clear_requests();
  }

  FakeClock clock;
  SimulatedPoll poll{clock};
  StreamCapture streams;
  SwitchBoardScope board;
  unsigned const start = Mux::milliseconds();
};

}  // namespace test
