#pragma once
// A slot that owns a DSP timeslot, in no factory, as the media families that own one
// are: every tone and DSP event it receives goes through the slot base's translators.

#include <string>

#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "server/slot.h"

namespace test_server {

class EventSlot : public Slot, public Hardware::TonecReceiver, public Hardware::DSProcReceiver {
public:
  EventSlot(int id, unsigned timeslot) : m_timeslot(timeslot) { SetId(id); }

  std::string GetName() const override { return "events"; }

  void tonec_event(Params const& params) override { processTonecEvent(params); }
  unsigned tonec_timeslot() const override { return m_timeslot; }
  void tone_gen_complete() override { processToneGenEvent(); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_bss_event(Board::dsproc_bss_event const* event) override { processBSSEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
  void dsproc_tone_flt_event(Board::dsproc_tone_event const* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(Board::dsproc_flags_event const* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return m_timeslot; }

private:
  unsigned m_timeslot;
};

}  // namespace test_server
