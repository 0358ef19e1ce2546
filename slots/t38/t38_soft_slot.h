#pragma once
// Software T.38 slots: a fax relay between a TDM timeslot and a T.38 peer, run by the
// external relay program "/usr/local/sbin/t38" as a child process. The slot allocates a
// transparent channel of the board's HDLC controller, hands its descriptor to the child
// as standard input, tells the child where the peer is, and reports the child's end to
// the controller with an `abort` signal. Its TDM side is the channel's switch port.

#include <ostream>

#include "foundation/child_wait.h"
#include "server/slot.h"
#include "server/slot_factory.h"

class T38SoftSlot : public Slot {
public:
  T38SoftSlot(int pid, int channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return channel; }
  int IGetReceiveChannel() override { return channel; }
  std::string GetName() const override { return "t38 soft"; }

  void OnT38Terminate(int status);
  void PutHeader(std::ostream& os) const;

private:
  int pid;  // -1 once the child has ended
  int channel;
  ChildWait childWait;
};

class T38SoftFactory : public SlotFactory {
public:
  static constexpr char kProgram[] = "/usr/local/sbin/t38";
  // Entries of the child's command line, the null end not counted.
  static constexpr unsigned kMaxArgs = 31;

  static T38SoftFactory& instance();

  std::string GetName() const override { return "T.38 soft"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;
  // The relay program's own count of the relays the board can run; 0 when it cannot tell.
  int QueryNumOfInstances();
  void PutHeader(std::ostream& os) const { os << "t38soft: "; }

private:
  T38SoftFactory() = default;
};
