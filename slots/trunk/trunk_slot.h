#pragma once
// Trunk slots: one time slot of an E1 trunk (32 per trunk, switch channel 32 x trunk +
// time slot) or one channel of a BRI interface (4 per interface, channel 4 x interface +
// time slot). No device of their own: connecting one is a switch connection, and a new
// one opens both its streams. One factory per trunk and per interface keeps one slot per
// time slot and replaces an older slot that claims the same time slot.

#include "server/slot.h"
#include "server/slot_factory.h"

class TrunkFactory;

class TrunkSlot : public Slot {
public:
  explicit TrunkSlot(unsigned channel) : m_channel(channel) {}

  int GetTrunk() override { return static_cast<int>(m_channel >> 5); }
  int GetTrunkTimeSlot() override { return GetTimeSlot(); }
  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return static_cast<int>(m_channel); }
  int IGetReceiveChannel() override { return static_cast<int>(m_channel); }
  std::string GetName() const override { return "trunk"; }
  virtual int GetTimeSlot() { return static_cast<int>(m_channel & 31); }

  unsigned channel() const { return m_channel; }

private:
  unsigned m_channel;
};

class TrunkBRISlot : public TrunkSlot {
public:
  using TrunkSlot::TrunkSlot;
  int GetTrunk() override { return static_cast<int>(channel() >> 2); }
  int GetTimeSlot() override { return static_cast<int>(channel() & 3); }
  std::string GetName() const override { return "trunkBRI"; }
};

class TrunkFactory : public SlotFactory {
public:
  TrunkFactory(unsigned trunk, unsigned channel_base) : TrunkFactory(trunk, channel_base, 32) {}

  std::string GetName() const override { return "Trunks"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources&) override {}
  virtual void ReleaseTrunkSlot(TrunkSlot* slot);
  // The E1 trunk or BRI interface this factory serves.
  unsigned trunk() const { return m_trunk; }

protected:
  TrunkFactory(unsigned trunk, unsigned channel_base, unsigned timeslots)
      : m_trunk(trunk), m_channel_base(channel_base), m_timeslots(timeslots) {}

  // The time slot the parameters ask of this factory, or -1.
  virtual int Accept(LGCP::CreateParams const& params) const;
  virtual TrunkSlot* Make(unsigned channel) const { return new TrunkSlot(channel); }

  unsigned const m_trunk;
  unsigned const m_channel_base;
  unsigned const m_timeslots;

private:
  TrunkSlot* m_slots[32] = {};
};

class TrunkBRIFactory : public TrunkFactory {
public:
  TrunkBRIFactory(unsigned interface, unsigned channel_base) : TrunkFactory(interface, channel_base, 4) {}
  std::string GetName() const override { return "TrunksBRI"; }

protected:
  int Accept(LGCP::CreateParams const& params) const override;
  TrunkSlot* Make(unsigned channel) const override { return new TrunkBRISlot(channel); }
};
