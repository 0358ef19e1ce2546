#include "slots/mixer/mixer_factory.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "foundation/fd.h"
#include "hardware/device_names.h"
#include "slots/mixer/mixer.h"
#include "slots/mixer/mixer_ctl.h"
#include "slots/mixer/mixer_slots.h"

namespace Mixer {

namespace {

// What the resources report gives for every unit.
constexpr int kDpuPerMixer = 770;
constexpr int kDpuPerEc = 17;
constexpr int kDpuPerLms = 24;

// The count becomes the value when it is still negative, else the smaller of the two.
void fold(int& count, int value) { count = count < 0 ? value : std::min(count, value); }

}  // namespace

MixerFactory& MixerFactory::instance() {
  static MixerFactory factory;
  return factory;
}

MixerFactory::~MixerFactory() {
  for (Mixer* unit : m_units) delete unit;
}

Mixer* MixerFactory::findMixer(int unit) const {
  auto const found = std::find_if(m_units.begin(), m_units.end(),
                                  [unit](Mixer const* mixer) { return !mixer->isDead() && mixer->id() == unit; });
  return found == m_units.end() ? nullptr : *found;
}

Slot* MixerFactory::INewSlot(LGCP::CreateParams const& params) {
  if (params.mixerOut_isSelected()) {
    LGCP::MixerOutParams const& out = params.get_mixerOut();
    Mixer* const unit = findMixer(out.get_unit().getValue());
    return unit ? unit->New(out) : nullptr;
  }
  if (params.mixerIn_isSelected()) {
    LGCP::MixerInParams const& in = params.get_mixerIn();
    Mixer* const unit = findMixer(in.get_unit().getValue());
    return unit ? unit->New(in) : nullptr;
  }
  return nullptr;
}

void MixerFactory::RefreshResources() {
  for (Mixer* unit : m_units) unit->setDead(true);
  Board::mix_unit_info info{};
  info.dev_no = -1;
  m_mixer_inputs = -1;
  m_tdm_channels = -1;
  // Bounded by this scan's requests, not by the units listed: a list of as many units as
  // the bound must not keep the next scan from finding them again.
  for (int request = 0; request < kMaxUnitRequests; ++request) {
    if (mixer_ctl(Board::MIX_UNIT_INFO, &info) < 0) break;
    fold(m_mixer_inputs, info.mixer_inputs);
    fold(m_tdm_channels, std::min(info.tdm_channels, kMaxTdmChannels));
    auto const listed = std::find_if(m_units.begin(), m_units.end(),
                                     [&info](Mixer const* unit) { return unit->id() == info.dev_no; });
    if (listed != m_units.end()) {
      (*listed)->setDead(false);
    } else {
      m_units.push_back(new Mixer(info.dev_no));
      m_units.back()->Reset();
    }
    // The same record goes into the next request: the driver sees the unit just named.
  }
  // A dropped unit's slots are told; its last slot deletes it, or Clear does at once.
  for (auto at = m_units.begin(); at != m_units.end();) {
    Mixer* const unit = *at;
    if (!unit->isDead()) {
      ++at;
      continue;
    }
    at = m_units.erase(at);
    unit->Clear();
  }
  QueryDriverVersion();
}

void MixerFactory::QueryDriverVersion() {
  int const fd = Board::io().open(GetVoiceDevName(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Errno const error;
    std::cerr << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << error << std::endl;
    return;
  }
  Board::VoiceVersion version{};
  if (Board::io().ioctl(fd, Board::VOICE_VERSION, &version) >= 0) {
    std::memcpy(m_version.data(), version.words, sizeof version.words);
    m_version_read = true;
  } else {
    m_version_read = false;
  }
  ::close(fd);
}

void MixerFactory::Query(LGCP::Resources& resources) {
  RefreshResources();
  auto& mixers = resources.ref_mixer();
  mixers.clear();
  for (Mixer const* unit : m_units) {
    LGCP::MixerResources_subtype entry;
    entry.set_unit(unit->id());
    entry.set_tdm_inputs(std::max(m_tdm_channels, 0));
    entry.set_tdm_outputs(std::max(m_tdm_channels, 0));
    entry.set_mixer_inputs(std::max(m_mixer_inputs, 0));
    entry.set_dpu_per_mixer(kDpuPerMixer);
    entry.set_dpu_per_ec(kDpuPerEc);
    entry.set_dpu_per_lms(kDpuPerLms);
    mixers.push_back(entry);
  }
}

}  // namespace Mixer
