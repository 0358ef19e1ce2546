#include "hardware/hw_mux.h"

#include <fcntl.h>
#include <iomanip>
#include <iostream>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"

HwMux& HwMux::instance() {
  static HwMux mux;
  return mux;
}

HwMux::HwMux() {
  std::clog << "hwMux: init" << std::endl;
  IsOpened();
  m_dpc.Bind(this, &HwMux::OnDPC);
}

HwMux::~HwMux() {
  if (m_fd >= 0) ::close(m_fd);
}

bool HwMux::IsOpened() {
  if (m_fd >= 0) return true;
  m_fd = Board::io().open(Board::kHal, O_RDWR);
  if (m_fd < 0) {
    Errno const error;
    std::cerr << "hwMux: can't open device: " << error << std::endl;
    return false;
  }
  std::clog << "hwMux: device opened" << std::endl;
  for (unsigned i = 0; i < kShadowSize; ++i) {
    disable_request(kBusPortBase + static_cast<int>(i));
    m_shadow[i] = kDisabled;
  }
  m_cursor = 0;
  m_dpc.Activate();
  ::usleep(500);
  return true;
}

bool HwMux::disable_request(int output) {
  Board::MuxDisable record{static_cast<std::uint32_t>(output)};
  return Board::io().ioctl(m_fd, Board::HAL_MUX_DISABLE, &record) == 0;
}

bool HwMux::Connect(int input, int output) {
  if (!IsOpened() || input < 0 || output < 0) {
    std::cerr << "hwMux: ERROR not opened" << std::endl;
    return false;
  }
  // A connected output never holds the disabled or constant marks: the refresh must
  // leave it alone.
  set_shadow(output, static_cast<std::uint16_t>(input > kConstant - 1 ? kConstant - 1 : input));
  Board::MuxConnect record{static_cast<std::uint32_t>(output), static_cast<std::uint32_t>(input)};
  if (Board::io().ioctl(m_fd, Board::HAL_MUX_CONNECT, &record) != 0) {
    Errno const error;
    std::cerr << "hwMux: connect " << std::dec << input << " -> " << output << " failed: " << error << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disconnect(int output) {
  if (!IsOpened() || output < 0) return false;
  set_shadow(output, kConstant);
  Board::MuxWrite record{static_cast<std::uint32_t>(output), kIdleByte};
  if (Board::io().ioctl(m_fd, Board::HAL_MUX_WRITE, &record) != 0) {
    Errno const error;
    std::cerr << "hwMux: disconnect failed " << std::dec << output << " : " << error << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Disable(int output) {
  if (!IsOpened() || output < 0) return false;
  set_shadow(output, kDisabled);
  if (!disable_request(output)) {
    Errno const error;
    std::cerr << "hwMux: disable failed " << std::dec << output << " : " << error << std::endl;
    return false;
  }
  return true;
}

bool HwMux::Write(int output, std::uint8_t byte) {
  if (!IsOpened() || output < 0) return false;
  set_shadow(output, kConstant);
  Board::MuxWrite record{static_cast<std::uint32_t>(output), byte};
  if (Board::io().ioctl(m_fd, Board::HAL_MUX_WRITE, &record) != 0) {
    Errno const error;
    std::cerr << "hwMux: write failed " << std::dec << output << " <- " << "0x" << std::hex << unsigned(byte)
              << std::dec << " : " << error << std::endl;
    return false;
  }
  return true;
}

unsigned HwMux::Read(int port) {
  if (!IsOpened() || port < 0) return 255;
  Board::MuxRead record{static_cast<std::uint32_t>(port), 0xFF};
  if (Board::io().ioctl(m_fd, Board::HAL_MUX_READ, &record) != 0) {
    Errno const error;
    std::cerr << "hwMux: read failed " << std::dec << port << " -> " << "0x" << std::hex << record.byte << std::dec
              << " : " << error << std::endl;
    return 255;
  }
  return record.byte & 0xFF;
}

void HwMux::OnDPC() {
  if (m_fd < 0) return;
  for (unsigned i = 0; i < kRefreshPerPass; ++i) {
    m_cursor = (m_cursor + 1) % kShadowSize;
    if (m_shadow[m_cursor] == kDisabled) disable_request(kBusPortBase + static_cast<int>(m_cursor));
  }
}
