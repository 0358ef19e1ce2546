#pragma once
// The factory of the voice players and recorders (slots/voice/voice_slot.h): each create
// allocates a transparent channel of the board's HDLC controller for the new slot.

#include <ostream>
#include <string>
#include <vector>

#include "server/slot_factory.h"

class PlaySlotGeneric;
class RecordSlot;

class VoiceFactory : public SlotFactory {
public:
  static VoiceFactory& instance();

  std::string GetName() const override { return "Voice/mcc"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}

  Slot* CreatePlay(LGCP::PlayerParams const& params);
  Slot* CreateRecord(std::string const& address);
  void OnDestroy(RecordSlot* recorder);
  void OnDestroy(PlaySlotGeneric* player);
  void PutHeader(std::ostream& os) const { os << "voice/mcc[" << number << "]: "; }

private:
  VoiceFactory() = default;

  int number = 0;
  std::vector<RecordSlot*> recorders;
  std::vector<PlaySlotGeneric*> players;
};

// "a.b.c.d:port" of a host address, its text as it is.
std::string dhost2str(TERM::HostAddress const& host);
