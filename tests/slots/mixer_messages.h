#pragma once
// Mixer creates, ioctls and resources reports, built and read alike by the tests in the
// process and by those that drive the daemon.

#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "schemas/lgcp.h"
#include "tests/server/lgcp_messages.h"

namespace mixer_test {

inline LGCP::MixerChannel tdm(int number) {
  LGCP::MixerChannel channel;
  channel.select_tdm(number);
  return channel;
}

inline LGCP::MixerChannel rtp(int number) {
  LGCP::MixerChannel channel;
  channel.select_rtp(number);
  return channel;
}

// Inputs of an output: each a channel at a gain.
using Inputs = std::vector<std::pair<LGCP::MixerChannel, int>>;

inline LGCP::Message create_output(int seq, int slot, int unit, LGCP::MixerChannel const& channel,
                                   Inputs const& inputs = {}) {
  return lgcp_test::command(seq, slot, [&](LGCP::Command& c) {
    LGCP::MixerOutParams& out = c.select_create().select_mixerOut();
    out.set_unit(unit);
    out.set_channel(channel);
    for (auto const& [from, gain] : inputs) {
      LGCP::MixerInput input;
      input.set_channel(from);
      input.set_gain(gain);
      out.set_inputs().push_back(input);
    }
  });
}

struct EchoMode {
  bool ec, es;
};

inline LGCP::Message create_input(int seq, int slot, int unit, LGCP::MixerChannel const& channel,
                                  std::optional<LGCP::MixerChannel> const& summator = std::nullopt,
                                  std::optional<EchoMode> ecm = std::nullopt) {
  return lgcp_test::command(seq, slot, [&](LGCP::Command& c) {
    LGCP::MixerInParams& in = c.select_create().select_mixerIn();
    in.set_unit(unit);
    in.set_channel(channel);
    if (summator) in.set_summator(*summator);
    if (ecm) {
      LGCP::EchoCancelMode mode;
      mode.set_ec(ecm->ec);
      mode.set_es(ecm->es);
      in.set_ecm(mode);
    }
  });
}

inline LGCP::Message ioctl(int seq, int slot, std::function<void(LGCP::IoctlParams&)> const& fill) {
  return lgcp_test::command(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
}

inline LGCP::Message tone_gen_enable(int seq, int slot, int freq, int amp) {
  return ioctl(seq, slot, [&](LGCP::IoctlParams& p) {
    LGCP::ToneGenerator& tone = p.select_tone_gen_enable();
    tone.set_freq(freq);
    tone.set_amp(amp);
  });
}

// A report's mixer entries, each {unit, tdm_inputs, tdm_outputs, mixer_inputs,
// dpu_per_mixer, dpu_per_ec, dpu_per_lms}.
inline std::vector<std::vector<int>> mixer_entries(LGCP::Resources const& resources) {
  std::vector<std::vector<int>> entries;
  for (LGCP::MixerResources_subtype const& e : resources.get_mixer())
    entries.push_back({e.get_unit().getValue(), e.get_tdm_inputs().getValue(), e.get_tdm_outputs().getValue(),
                       e.get_mixer_inputs().getValue(), e.get_dpu_per_mixer().getValue(), e.get_dpu_per_ec().getValue(),
                       e.get_dpu_per_lms().getValue()});
  return entries;
}

// The units a report lists, in its order.
inline std::vector<int> units_of(LGCP::Resources const& resources) {
  std::vector<int> units;
  for (auto const& entry : mixer_entries(resources)) units.push_back(entry[0]);
  return units;
}

}  // namespace mixer_test
