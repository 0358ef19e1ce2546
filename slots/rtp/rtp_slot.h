#pragma once
// RTP slots: one TDM channel of the board joined to one RTP stream. The board's RTP
// driver does the packet work, one session per open of Board::kRtp; the slot begins the
// session, owns the channel the driver allocated, starts and stops transmission with its
// input stream, restarts the session on a codec change and turns the driver's events,
// and those of its tone and DSP receivers, into signals. Beside the session it keeps a
// UDP socket of its own and sends RTCP on it: an SDES when it is made, a BYE when it goes.
//
// RtpFactory takes the `rtp` creates without a radio request (the radio factories take
// those, with slots derived from RtpSlot) and reports the board's codec capacity from
// Board::kVoice.

#include <netinet/in.h>

#include <cstdint>
#include <optional>
#include <ostream>

#include "foundation/board_requests.h"
#include "foundation/event.h"
#include "foundation/fd.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "server/slot.h"
#include "server/slot_factory.h"
#include "slots/rtp/rtpc.h"

class RtpSlot : public Slot, protected Hardware::TonecReceiver, protected Hardware::DSProcReceiver {
public:
  // Takes the session with its channel, begun with `params`.
  RtpSlot(int channel, Fd rtp, Board::rtp_connection_params const& params);
  // Says BYE and undoes what the receivers switched on.
  ~RtpSlot() override;

  // Keeps the RTCP socket and its peer, and sends the session's SDES.
  void startRTPC(Fd& rtcp, sockaddr_in const& peer);
  // Encodes the packet and sends it to the RTCP peer; a failed send goes unnoticed.
  void send(RTPC::Msg const& msg);
  // For the radio slots, which start and stop transmission on squelch changes.
  void setTransmissionDependOnSQU(bool on) { transmissionDependOnSQU = on; }

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override;
  void IOnOutputRelease() override {}
  void IOnInputRelease() override;
  int IGetTransmitChannel() override { return holdsChannel ? channel : -1; }
  int IGetReceiveChannel() override { return holdsChannel ? channel : -1; }
  std::string GetName() const override { return "rtp"; }

  // Each 1 on success, 0 on failure (logged).
  int enablePD(LGCP::PDParams const& params);
  int disablePD();
  // Begins the session again with `params` on the same channel.
  int restart();
  // The RTP payload type a codec mode selects.
  unsigned translate_payload(LGCP::CodecMode::NamedNumber mode) const;
  void OnRtpEvent(int fd, short revents);

  // "rtp[<channel>]: "
  void PutHeader(std::ostream& os) const;

protected:
  void tonec_event(Params const& params) override { processTonecEvent(params); }
  unsigned tonec_timeslot() const override { return static_cast<unsigned>(channel); }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { processVADEvent(event); }
  void dsproc_bss_event(Board::dsproc_bss_event const* event) override { processBSSEvent(event); }
  void dsproc_sd_event(Hardware::DSProcSDEvent const& event) override { processSDEvent(event); }
  void dsproc_tone_flt_event(Board::dsproc_tone_event const* event) override { processToneFltEvent(event); }
  void dsproc_flags_event(Board::dsproc_flags_event const* event) override { processFlagsEvent(event); }
  unsigned dsproc_timeslot() const override { return static_cast<unsigned>(channel); }

  int channel;
  Fd rtp;
  Event rtpEvent;
  Board::rtp_connection_params params;
  sockaddr_in rtcpPeer{};
  Fd rtcp;
  unsigned lbrcPayload;
  bool transmitting = false;
  bool transmissionDependOnSQU = false;
  // False while no session holds `channel` (a restart that failed): it may be another
  // slot's by now.
  bool holdsChannel = true;
  // Packet detection's time-out while it is on: every new session gets it again.
  std::optional<std::uint32_t> pdTimeout;

private:
  friend class RtpFactory;  // switches the echo canceller of a slot it makes

  // The codec change of `tx_pt` (encoder) or `rx_pt` (decoder); false when the restart
  // failed, the old payload and session then back in place where the driver allows.
  bool changeCodec(bool encoder, LGCP::IoctlParams const& request);
  // Packet detection on the current session: the request's result.
  int setPD(std::uint32_t timeout);
};

class RtpFactory : public SlotFactory {
public:
  static RtpFactory& instance();

  std::string GetName() const override { return "RTP"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // Asks the voice driver for the channels of each codec family.
  void IQuery();
  // The RTP payload type of a payload: 0 for those that have none here.
  static unsigned translateCodec(TERM::Payload::NamedNumber payload);
  // `other` when it is another G.711 law than `payload`, else `payload`'s type.
  static unsigned translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber other);
  // The session's connection record for a create (the radio factories build theirs so).
  static Board::rtp_connection_params connectionParams(LGCP::CreateRtpParams const& create);
  // "rtp[<g723>,<g729>,<g711>,<universal>]: "
  void PutHeader(std::ostream& os) const;

private:
  RtpFactory();

  std::uint32_t g729 = 0;
  std::uint32_t g723 = 0;
  std::uint32_t g711 = 0;
  std::uint32_t g711mcc = 0;
  std::uint32_t universal = 0;
};
