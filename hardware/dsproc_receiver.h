#pragma once
// The voice-processing DSP on Board::kDsp: per timeslot voice activity detection (VAD),
// signal detection (SD), BSS, NG, two mutes, rx/tx delays, rx gain and tone filters.
// DSProcReceiverService is the process's one client of the device: it sends every
// request, gives out receiver ids and hands each event to the receiver of its timeslot.
// DSProcReceiver is mixed into every slot that owns a DSP timeslot and keeps what is
// switched on for it.

#include <cstdint>

#include "foundation/board_requests.h"
#include "foundation/cyclic_list.h"
#include "hardware/driver_service.h"
#include "hardware/receiver_index.h"
#include "schemas/lgcp.h"

namespace Hardware {

// -1: not reported.
struct DSProcVADEvent {
  std::int32_t rx;
  std::int32_t tx;
};

struct DSProcSDEvent {
  std::int32_t sd_rx;
};

class DSProcReceiver {
public:
  DSProcReceiver();
  virtual ~DSProcReceiver();
  DSProcReceiver(DSProcReceiver const&) = delete;
  DSProcReceiver& operator=(DSProcReceiver const&) = delete;

  // The events for this receiver. The member names hide the driver's record types in
  // here: those are spelled Board::.
  virtual void dsproc_vad_event(DSProcVADEvent const& event) = 0;
  virtual void dsproc_bss_event(Board::dsproc_bss_event const* event) = 0;
  virtual void dsproc_sd_event(DSProcSDEvent const& event) = 0;
  virtual void dsproc_tone_flt_event(Board::dsproc_tone_event const* event) = 0;
  virtual void dsproc_flags_event(Board::dsproc_flags_event const* event) = 0;
  virtual unsigned dsproc_timeslot() const = 0;

  bool configureVAD(LGCP::VADParams const& params);
  bool enableVAD(bool on);
  bool disableVAD();
  bool enableBSS(bool on);
  bool disableBSS();
  bool enableNG(bool on);
  bool disableNG();
  bool configureSD();
  bool enableSD(bool on);
  bool disableSD();
  bool enableMute(bool first, bool second);
  bool disableMute();
  void configureDelays(unsigned rx, unsigned tx);
  void configureRxGain(char gain);
  // The controller's gain: its low 8 bits, as a signed byte.
  void configureRxGain(LGCP::Gain const& gain);
  void configureToneFilter(unsigned freq, unsigned en, int dur_th_msec, int det_lvl_dB);
  void configureToneFilter(LGCP::ToneFilter const& filter);
  void disableToneAll();
  // Undoes what the receiver switched on; its owner calls it before destroying it.
  void CleanBeforeDestroy();

private:
  friend class DSProcReceiverService;

  // A function's state: -1 never switched, 0 off, 1 on.
  std::int32_t vadState = -1;
  std::uint32_t vadId = 0;
  std::int32_t bssState = 0;
  std::uint32_t bssId = 0;
  std::int32_t ngState = 0;
  std::uint32_t ngId = 0;
  std::int32_t sdState = -1;
  std::uint32_t sdId = 0;
  std::int32_t muteState4 = -1;
  std::int32_t muteState8 = -1;
  std::uint32_t muteId = 0;
  bool delaysSet = false;
  bool rxGainSet = false;
  Containers::CyclicList link;
};

// Every DSP receiver, in construction order, and how often one came or went.
extern Containers::CyclicList dsprocReceivers;
extern unsigned dsprocReceiverChanges;

class DSProcReceiverService : public DriverService {
public:
  static DSProcReceiverService& instance();

  // Opens the device and schedules it; logs when it cannot.
  void init();
  bool configureVAD(unsigned ts, LGCP::VADParams const& params);
  bool enableVAD(DSProcReceiver& receiver, bool on);
  bool enableBSS(DSProcReceiver& receiver, bool on);
  bool enableNG(DSProcReceiver& receiver, bool on);
  bool configureSD(unsigned ts);
  bool enableSD(DSProcReceiver& receiver, bool on);
  bool enableMute(DSProcReceiver& receiver, bool first, bool second);
  void configureDelays(unsigned ts, unsigned rx, unsigned tx);
  void configureRxGain(unsigned ts, char gain);
  void configureToneFilter(unsigned ts, unsigned freq, unsigned en, int dur_th_msec, int det_lvl_dB);
  void disableToneAll(DSProcReceiver& receiver);
  void OnEvent(int fd, short revents);

private:
  DSProcReceiverService();
  ~DSProcReceiverService() override = default;

  bool enableFunction(DSProcReceiver& receiver, bool on, std::int32_t& state, std::uint32_t& id, std::uint32_t mask,
                      char const* word);
  // DSPROC_DISABLE of `mask`; false when it failed.
  bool disable(unsigned ts, std::uint32_t mask);
  // Opens the device if needed; false, with the line, when there is none.
  bool opened(unsigned ts, char const* not_opened);
  bool configure(Board::DsprocConfigure const& record, char const* failure);
  void dispatch(Board::DsprocEvent const& event);

  ReceiverIndex<DSProcReceiver> m_receivers;
};

}  // namespace Hardware
