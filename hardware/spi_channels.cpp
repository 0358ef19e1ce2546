#include "hardware/spi_channels.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace Hardware {

namespace {
constexpr int kBroughtUp = 7;  // channel 7 is neither initialised nor enabled at bring-up
constexpr unsigned kPowerOff = 128;
constexpr unsigned kPowerOn = 0;
constexpr unsigned kNotMaster = 48;
constexpr unsigned kMaster = 56;
}  // namespace

SpiChannels::~SpiChannels() {
  if (m_fd >= 0) ::close(m_fd);
}

void SpiChannels::init_device_and_channels() {
  if (m_fd >= 0 || !m_present) return;
  std::clog << "spi: try init" << std::endl;
  m_fd = Board::io().open(Board::kHal, O_RDWR | O_CLOEXEC);
  if (m_fd < 0) {
    std::clog << "spi: " << Board::kHal << " open fail" << std::endl;
    return;
  }
  for (int channel = 0; channel < kBroughtUp; ++channel) {
    init_channel(channel);
    enable_channel(channel);
  }
}

bool SpiChannels::channel_usable(int channel, char const* what, int lowest) {
  if (!m_present) return false;
  if (channel < lowest || channel >= kChannels) {
    std::clog << "spi: bad channel for " << what << ' ' << channel << std::endl;
    return false;
  }
  init_device_and_channels();
  return m_fd >= 0;
}

void SpiChannels::init_channel(int channel) {
  if (!channel_usable(channel, "init")) return;
  unsigned const c = static_cast<unsigned>(channel);
  write(c, kPower, kPowerOff);
  write(c, kSetup, 8);
  write(c, kClockMaster, kNotMaster);
  write(c, 52, 96);
  write(c, 53, 0);
  write(c, 54, 0);
  write(c, 55, 0);
  std::clog << "spi: init channel " << channel << std::endl;
}

void SpiChannels::enable_channel(int channel) {
  if (!channel_usable(channel, "enable")) return;
  write(static_cast<unsigned>(channel), kPower, kPowerOn);
  std::clog << "spi: enable channel " << channel << std::endl;
}

void SpiChannels::disable_channel(int channel) {
  if (!channel_usable(channel, "disable")) return;
  write(static_cast<unsigned>(channel), kPower, kPowerOff);
  std::clog << "spi: disable channel " << channel << std::endl;
}

void SpiChannels::clock(int channel) {
  // -1 is no channel: the one number below 0 taken here.
  if (!channel_usable(channel, "set clock master", -1)) return;
  for (unsigned c = 0; c < kChannels; ++c) write(c, kClockMaster, kNotMaster);
  if (channel < 0) {
    std::clog << "spi: clock master disabled" << std::endl;
    return;
  }
  write(static_cast<unsigned>(channel), kClockMaster, kMaster);
  std::clog << "spi: set clock master on channel " << channel << std::endl;
}

void SpiChannels::write(unsigned channel, unsigned reg, unsigned value) {
  if (m_fd < 0 || !m_present) return;
  Board::SpiAccess record{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg),
                          static_cast<std::uint8_t>(value)};
  if (Board::io().ioctl(m_fd, Board::HAL_SPI_WRITE, &record) < 0) access_failed(errno, "write", channel, reg, &value);
}

unsigned SpiChannels::read(unsigned channel, unsigned reg) {
  if (m_fd < 0 || !m_present) return 0;
  Board::SpiAccess record{static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(reg), 0xFF};
  int const result = Board::io().ioctl(m_fd, Board::HAL_SPI_READ, &record);
  if (result < 0) {
    access_failed(errno, "read", channel, reg, nullptr);
    return 0;
  }
  return static_cast<unsigned>(result) & 0xFF;
}

void SpiChannels::access_failed(int error, char const* what, unsigned channel, unsigned reg, unsigned const* value) {
  if (error == ENODEV) {
    std::clog << "spi: hal without spi" << std::endl;
    m_present = false;
    on_spi_lost();
    return;
  }
  std::clog << "spi: " << what << " error: channel=" << channel << " addr=" << reg;
  if (value) std::clog << " data=" << *value;
  std::clog << std::endl;
}

void SpiChannels::shutdown() {
  if (m_fd < 0) return;
  for (int channel = 0; channel < kChannels; ++channel) disable_channel(channel);
  clock(-1);
  ::close(m_fd);
  m_fd = -1;
}

}  // namespace Hardware
