#pragma once
// The tone DSP on Board::kDtmf: per timeslot a DTMF detector, an IVA detector, DTMF
// rejection, an echo canceller and a dual-tone generator. TonecReceiverService is the
// process's one client of the device: it sends every request, gives out receiver ids and
// hands each detector event to the receiver of its timeslot. TonecReceiver is mixed into
// every slot that owns a DSP timeslot: it keeps what is switched on, and paces digit
// strings and the ring-back tone on the generator with its own timer.

#include <cstdint>

#include "foundation/cyclic_list.h"
#include "foundation/timer.h"
#include "hardware/driver_service.h"
#include "hardware/receiver_index.h"
#include "schemas/lgcp.h"
#include "schemas/term.h"

namespace Board {
struct DtmfEvent;
}

namespace Hardware {

class TonecReceiver {
public:
  struct Params {
    std::uint32_t code;
    std::uint32_t timestamp;
  };

  TonecReceiver();
  virtual ~TonecReceiver();
  TonecReceiver(TonecReceiver const&) = delete;
  TonecReceiver& operator=(TonecReceiver const&) = delete;

  // A detector event for this receiver.
  virtual void tonec_event(Params const& params) = 0;
  virtual unsigned tonec_timeslot() const = 0;
  // A digit string has been sent.
  virtual void tone_gen_complete() {}

  bool configureDTMF(LGCP::DTMFParams const& params);
  bool enableDTMF(bool on);
  bool disableDTMF();
  bool echoCancel(bool on);
  bool enableDTMFReject(bool on);
  bool configureIVA(LGCP::IVAParams const& params);
  bool enableIVA(bool on);
  void translateSelcal(TERM::SelcalCommand const& command);
  // Sends the digits, each for its tone duration followed by its pause; a string sent
  // meanwhile replaces the digits still to come.
  void translateDTMF(LGCP::TranslateDtmfParams const& params);
  // The ring-back cadence: 425 Hz for 1000 ms, silence for 3000 ms, until cancelled.
  void activateAudibleCall();
  void cancelAudibleCall();
  bool enableToneGenerator(std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1, std::uint16_t amp2);
  bool enableSilence();
  // Switches the generator off; without force only while a string is being sent.
  bool disableToneGenerator(bool force);
  bool is_inDTMFTransmit() const { return inDTMFTransmit; }
  // Undoes what the receiver switched on; its owner calls it before destroying it.
  void CleanBeforeDestroy();

private:
  friend class TonecReceiverService;

  void on_DTMFToneFinish(Timer*);
  void on_DTMFPauseFinish(Timer*);
  void on_waitToneFinish(Timer*);
  void on_waitPauseFinish(Timer*);

  bool enabled = false;  // detector on: DTMF or IVA
  Timer timer;
  bool inDTMFTransmit = false;
  std::uint32_t id = 0;
  LGCP::TranslateDtmfParams dtmfParams;
  Containers::CyclicList link;
  bool ivaEnabled = false;
  bool dtmfEnabled = false;
  bool dtmfRejectEnabled = false;
};

// Every tone receiver, in construction order, and how often one came or went.
extern Containers::CyclicList tonecReceivers;
extern unsigned tonecReceiverChanges;

class TonecReceiverService : public DriverService {
public:
  static TonecReceiverService& instance();

  // Opens the device and schedules it; logs when it cannot.
  void init();
  bool configureDTMF(unsigned ts, LGCP::DTMFParams const& params);
  bool enableDTMF(TonecReceiver& receiver, bool on);
  bool echoCancel(unsigned ts, bool on);
  bool enableDTMFReject(unsigned ts, bool on);
  bool enableToneGenerator(unsigned ts, std::uint16_t freq1, std::uint16_t freq2, std::uint16_t amp1,
                           std::uint16_t amp2);
  bool configureIVA(TonecReceiver& receiver, LGCP::IVAParams const& params);
  bool enableIVA(TonecReceiver& receiver, bool on);
  void translateSelcal(TonecReceiver& receiver, TERM::SelcalCommand const& command);
  void OnEvent(int fd, short revents);

private:
  TonecReceiverService();
  ~TonecReceiverService() override = default;

  // One by-value request with ts; true unless it failed.
  bool switch_request(unsigned ts, bool on, unsigned long on_code, unsigned long off_code, char const* stem,
                      char const* on_suffix, char const* off_suffix);
  void dispatch(Board::DtmfEvent const& event);

  ReceiverIndex<TonecReceiver> m_receivers;
};

}  // namespace Hardware
