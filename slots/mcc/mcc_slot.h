#pragma once
// MCC data slots: a raw data channel of the board's HDLC controller (Board::kMccControl)
// for the controller. The slot's channel sits on the switch port the controller reports;
// every `userData` command's bytes go out on the channel as one frame, and every frame
// the channel delivers goes back to the controller as one `userData` signal. The factory
// also reports the controller's free channels in the resources query.

#include <ostream>
#include <vector>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "server/slot.h"
#include "server/slot_factory.h"

class MccSlot : public Slot {
public:
  static constexpr unsigned kReadSize = 1024;

  // Takes the allocated channel's descriptor.
  explicit MccSlot(Fd channel);
  // False when the loop could not take the descriptor: the slot then holds no channel.
  bool watched() const { return event.IsActive(); }

  bool IUserData(ASN1::OCTET_STRING const& data) override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  std::string GetName() const override { return "MCC"; }

private:
  void OnEvent(int fd, short revents);
  void DoRead();

  int channel;
  Event event;  // holds the slot's only copy of the descriptor
};

class MccFactory : public SlotFactory {
public:
  static MccFactory& instance();

  std::string GetName() const override { return "MCC"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  void PutHeader(std::ostream& os) const { os << "mcc: "; }

private:
  MccFactory() = default;
};
