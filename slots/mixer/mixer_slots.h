#pragma once
// The two slots a conference is built of, each on one channel of a mixer unit and on
// that channel's timeslot of the TDM switch. A mixer input is a receiver: what the
// controller connects to it goes into the channel. A mixer output is a source: it sends
// the sum the unit forms for its channel. Both carry the tone and DSP receivers of their
// timeslot, which an input and an output on one channel share, one in each direction.
// Their streams open only at a connect.

#include <optional>
#include <string>

#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "server/slot.h"

namespace Mixer {

class Mixer;

// What a unit registers.
class MixerSlot : public Slot {};

// What both kinds share: the unit, the channel and its timeslot, the receivers on that
// timeslot (for the slot's own use) and the ioctls both answer alike.
class TdmSlot : public MixerSlot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
public:
  int channel() const { return m_channel; }
  int timeslot() const { return m_timeslot; }

protected:
  TdmSlot(Mixer& mixer, int channel, int timeslot) : m_mixer(mixer), m_channel(channel), m_timeslot(timeslot) {}
  // Tone, then DSP: each switches off what it switched on, on the timeslot this class
  // keeps (a receiver base cannot reach it any more).
  ~TdmSlot() override;

  // The ioctls of both tables: true or false when the alternative is one of them, else
  // nothing.
  std::optional<bool> CommonIoctl(LGCP::IoctlParams const& params);

  unsigned tonec_timeslot() const final { return static_cast<unsigned>(m_timeslot); }
  unsigned dsproc_timeslot() const final { return static_cast<unsigned>(m_timeslot); }
  void dsproc_tone_flt_event(Board::dsproc_tone_event const* event) final { processToneFltEvent(event); }
  void dsproc_flags_event(Board::dsproc_flags_event const* event) final { processFlagsEvent(event); }

  Mixer& m_mixer;  // nothing may use it once the slot's release is done
  // Set as the release begins: a slot of the unit now listed under this one's number
  // holds the timeslot, and the receivers' settings on it are that slot's.
  bool m_passed_on = false;

private:
  friend class Mixer;
  // A digit string still being sent ends in silence, and the generator is switched off.
  void StopDigits();

  int m_channel;
  int m_timeslot;
};

class TdmInput : public TdmSlot {
public:
  TdmInput(Mixer& mixer, int channel, int timeslot) : TdmSlot(mixer, channel, timeslot) {}

  // The channel into whose sum the create linked this input, -1 for none.
  int summator() const { return m_summator; }

  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnInputStream() override { return true; }
  int IGetReceiveChannel() override { return timeslot(); }
  std::string GetName() const override { return "mixer tdm input"; }

private:
  friend class Mixer;

  void tonec_event(Params const& params) override { processTonecEvent(params); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_bss_event(Board::dsproc_bss_event const* event) override { processBSSEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }

  int m_summator = -1;
};

class TdmOutput : public TdmSlot {
public:
  TdmOutput(Mixer& mixer, int channel, int timeslot) : TdmSlot(mixer, channel, timeslot) {}

  // A tone-gen-enable tone sounds: nothing but tone-gen-disable, a digit string or the
  // release stops it.
  bool tone_on() const { return m_tone_on; }

  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  int IGetTransmitChannel() override { return timeslot(); }
  std::string GetName() const override { return "mixer tdm output"; }

private:
  friend class Mixer;

  // An output drops what the detectors of its timeslot find, but tone filters and flags.
  void tonec_event(Params const&) override {}
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const&) override {}
  void dsproc_bss_event(Board::dsproc_bss_event const*) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
  // Switches the generator off for good.
  void StopTone();

  bool m_tone_on = false;
};

}  // namespace Mixer
