#pragma once
// One conference unit of the mixer driver. Every channel of a unit has a timeslot on the
// TDM switch and a sum: the channels whose input, each at a gain, the unit adds up and
// sends out on that channel. The unit edits those sums for the mixer slots it makes
// (slots/mixer/mixer_slots.h) and undoes them when the slots go.
//
// The factory's scan makes a unit and owns it while the driver reports it. A unit the
// scan no longer finds is dead: its slots are told, and the last of them to go deletes
// it (a dead unit without slots goes at once). UnRegister and Clear may therefore delete
// the unit: nothing may touch it after them.

#include <ostream>
#include <vector>

#include "foundation/board_requests.h"
#include "schemas/lgcp.h"

namespace Mixer {

class MixerSlot;
class TdmInput;
class TdmOutput;

class Mixer {
public:
  // The gain of every link the server makes on its own (summator and self links).
  static constexpr int kOwnGain = 32767;

  explicit Mixer(int id);
  ~Mixer();
  Mixer(Mixer const&) = delete;
  Mixer& operator=(Mixer const&) = delete;

  int id() const { return m_id; }
  bool isDead() const { return m_dead; }
  // The scan marks the units it looks for and clears the mark on those it finds.
  void setDead(bool dead) { m_dead = dead; }
  // "mixer [3]: "
  void PutHeader(std::ostream& os) const;

  // A slot on a channel of this unit, or null (the create is then refused).
  TdmInput* New(LGCP::MixerInParams const& params);
  TdmOutput* New(LGCP::MixerOutParams const& params);
  // Undo what New did; may delete the unit.
  void Release(TdmInput& slot);
  void Release(TdmOutput& slot);

  // Empties the sum of every channel.
  void Reset();
  // The unit vanished: every slot is told (abort 0); may delete the unit.
  void Clear();
  // False for a channel that is not a TDM channel.
  bool Channel2Slot(LGCP::MixerChannel const& channel, Board::mix_slot& slot) const;
  bool ClearTX(LGCP::MixerChannel const& channel);
  // The output's sum: its listed inputs, or itself when it lists none.
  bool SetTX(LGCP::MixerOutParams const& params);
  // The channel's timeslot on the TDM switch, -1 when the driver does not tell it.
  int channel2timeslot(int channel);

  MixerSlot* Register(MixerSlot* slot);
  void UnRegister(MixerSlot* slot);
  void CheckForDestroy();
  // Whether a mixer input of this unit, or of the unit listed under its number once it
  // is dead, receives on the channel.
  bool HasInputOn(int channel) const;
  // Whether this unit is dead and a slot of the unit listed under its number is on the
  // timeslot.
  bool SuccessorHolds(int timeslot) const;
  std::vector<MixerSlot*> const& slots() const { return m_slots; }

  // Unit objects alive in the process, dead ones held by their slots included.
  static unsigned instances() { return s_instances; }

private:
  // Once this unit is dead, the unit listed under its number, if any: its conference is
  // on the same channels and sums.
  Mixer const* Successor() const;
  // The channel's number when it is a TDM channel within the units' channel count, else -1.
  static int TdmChannel(LGCP::MixerChannel const& channel);
  // MIX_RX_ADD of {rx, tx, gain}; false, with its line, when it failed.
  bool AddLink(Board::mix_slot const& rx, Board::mix_slot const& tx, int gain);

  int m_id;
  bool m_dead = false;
  std::vector<MixerSlot*> m_slots;  // live slots, in creation order; not owned

  static unsigned s_instances;
};

}  // namespace Mixer
