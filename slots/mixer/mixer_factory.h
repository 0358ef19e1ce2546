#pragma once
// The factory of the mixer slots. It knows the driver's units only from its scan, which
// runs at each resources query: no mixer slot can be made before the first query after
// the controller connects. The channel and input counts it reports are the smallest over
// all units, and bound the channels of every unit.

#include <array>
#include <cstdint>
#include <vector>

#include "server/slot_factory.h"

namespace Mixer {

class Mixer;

class MixerFactory : public SlotFactory {
public:
  // A scan asks the driver for at most this many units: a driver that names one unit
  // again and again must not hold the loop.
  static constexpr int kMaxUnitRequests = 100;
  // A unit's channel count folds to this: a reset clears every channel, each clear an
  // open of the device.
  static constexpr int kMaxTdmChannels = 1024;

  static MixerFactory& instance();

  std::string GetName() const override { return "Mixer"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // The smallest channel count over the units, -1 when there is none.
  int tdm_channels() const { return m_tdm_channels; }
  int mixer_inputs() const { return m_mixer_inputs; }
  // The unit of that number, unless it is dead; else null.
  Mixer* findMixer(int unit) const;
  // The unit scan: the units the driver reports, in its order; the others are dropped.
  void RefreshResources();
  void QueryDriverVersion();
  std::vector<Mixer*> const& units() const { return m_units; }
  bool driver_version_read() const { return m_version_read; }
  std::array<std::uint32_t, 5> const& driver_version() const { return m_version; }

private:
  MixerFactory() = default;
  // Units still listed go with the process (their slots have gone before them).
  ~MixerFactory() override;

  bool m_version_read = false;
  std::array<std::uint32_t, 5> m_version{};
  int m_mixer_inputs = -1;
  int m_tdm_channels = -1;
  std::vector<Mixer*> m_units;
};

}  // namespace Mixer
