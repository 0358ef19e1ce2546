#pragma once
// HDLC slots: a transparent HDLC data link that the controller drives frame by frame. The
// slot owns one framer channel (hardware/hdlc.h), points it at the timeslot of the slot
// it is connected to, sends the frames of each `hdlcPackages` ioctl behind a three-byte
// link header (16-bit address, a control byte with two 3-bit counters) through a
// transmit queue, and reports the frames received for its address as `hdlcPackages`
// ioctl signals, batched, with the channel's statistics every 3000 ms.

#include <cstddef>
#include <cstdint>
#include <ostream>

#include "foundation/clean_queue.h"
#include "foundation/timer.h"
#include "hardware/hdlc.h"
#include "server/slot.h"
#include "server/slot_factory.h"

class HdlcSlot : private Slot, public HDLC::Notify {
public:
  static constexpr unsigned kQueueSize = 120;
  static constexpr unsigned kBatchMs = 100;

  explicit HdlcSlot(LGCP::HdlcParams const& params);
  ~HdlcSlot() override;

  void PutHeader(std::ostream& os) const;

private:
  friend class HdlcSlotFactory;

  void OnTrunkStatus(unsigned, ACP::TrunkState::NamedNumber) override {}
  bool IActivate(TERM::TermActivateParams const&) override;
  bool IDeactivate() override;
  bool Ioctl(LGCP::IoctlParams const& params) override;
  int GetConnectionPriority() override { return 1; }
  bool IHwConnectTransmitter(Slot& receiver) override;
  bool IHwConnectReceiver(Slot& source) override;
  bool IHwDisconnectTransmitter(Slot& receiver) override;
  bool IHwDisconnectReceiver(Slot& source) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  std::string GetName() const override { return "hdlc-slot"; }

  void on_hdlc_receive(Packet& frame) override;
  void on_hdlc_error(Cause::Type cause) override;
  void on_hdlc_ready() override;

  // Points the channel at `tdm` and opens it unless the port is unknown (-1).
  void point_channel(int tdm);
  void iactivate();
  void transmitPacket(Packet& frame);
  void enqResponce(Packet& frame);
  void flushResponce();
  void OnUpdateTimer();
  void UpdateHDLC_Statistics();

  static constexpr TimerSpec<HdlcSlot>::Spec TUpdatespec{&HdlcSlot::OnUpdateTimer, 3000};

  HDLC* m_channel;
  LGCP::IoctlResponse m_response;  // received packages not yet reported
  std::size_t m_batch_size = 0;    // their encoded size, as enqResponce counts it
  unsigned m_trunk;
  TimerSpec<HdlcSlot>::SpecTimer<&HdlcSlot::TUpdatespec> m_update;
  Timer m_batch;
  CleanQueue<Packet, kQueueSize> m_queue;
  std::uint16_t m_address;
  std::uint8_t m_send = 0;
  std::uint8_t m_receive = 0;
  bool m_read_failed = false;  // the channel closed itself and is not activated again yet
};

class HdlcSlotFactory : public SlotFactory {
public:
  static HdlcSlotFactory& instance();

  std::string GetName() const override { return "HdlcSlotFactory"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  void SelfSignal(LGCP::Signal const& signal) override;

private:
  HdlcSlotFactory() = default;
};
