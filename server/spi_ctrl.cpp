#include "server/spi_ctrl.h"

#include "server/trunk_status.h"

namespace {

// Register 51 of a chip: the first matching rule wins.
ACP::TrunkState::NamedNumber line_state(unsigned value) {
  if (!(value & 0x01)) return ACP::TrunkState::lossCarrier;
  if (!(value & 0x04)) return ACP::TrunkState::lossBF;
  switch (value >> 6) {
    case 2: return ACP::TrunkState::rai;
    case 3: return ACP::TrunkState::normal;
    default: return ACP::TrunkState::ais;
  }
}

constexpr unsigned kSlipBit = 0x20;

}  // namespace

spiCtrl& spiCtrl::instance() {
  static spiCtrl spi;
  return spi;
}

spiCtrl::spiCtrl() { init_device_and_channels(); }

spiCtrl::~spiCtrl() {
  if (!is_open()) return;
  m_timer.reset();
  shutdown();
}

void spiCtrl::OnConnect() {
  if (is_open() && spi_present()) m_timer.set(kStatusPeriodMs, &spiCtrl::status, this);
}

void spiCtrl::status() {
  if (!spi_present()) return;
  for (int channel = 0; channel < kChannels; ++channel) {
    unsigned const value = read(static_cast<unsigned>(channel), kLineStatus);
    TrunkReport report;
    report.trunk = channel;
    report.state = line_state(value);
    bool const slipped = value & kSlipBit;
    report.slips = slipped && !m_slip[channel] ? 1 : 0;
    m_slip[channel] = slipped;
    report.type = ACP::TrunkType::bri;
    SendSignal(TrunkStatusSignal(report));
  }
  // A pass that lost SPI on the way still re-arms: the next one stops.
  m_timer.set(kStatusPeriodMs, &spiCtrl::status, this);
}
