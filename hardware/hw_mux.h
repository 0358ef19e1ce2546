#pragma once
// The board's time-slot switching matrix on "/dev/hal": every connection between two
// slots ends here as a request that a switch output take its bytes from an input. A
// shadow of the shared-bus outputs (8192..10239) lets a background refresh keep the
// disabled ones disabled, 128 outputs per loop pass.

#include <cstdint>

#include "foundation/dpc.h"

class HwMux {
public:
  static constexpr int kBusPortBase = 8192;
  static constexpr unsigned kShadowSize = 2048;
  static constexpr std::uint16_t kDisabled = 0xFFFF;
  static constexpr std::uint16_t kConstant = 0xFFFE;
  static constexpr std::uint8_t kIdleByte = 0xD5;
  static constexpr unsigned kRefreshPerPass = 128;

  // The daemon's one switch. Tests make their own, each with a fresh first open.
  static HwMux& instance();
  HwMux();
  ~HwMux();
  HwMux(HwMux const&) = delete;
  HwMux& operator=(HwMux const&) = delete;

  // Opens the device when it is not open yet; true when it is open.
  bool IsOpened();
  // The output takes its bytes from the input.
  bool Connect(int input, int output);
  // The output sends the idle byte.
  bool Disconnect(int output);
  // The output drives nothing.
  bool Disable(int output);
  bool Write(int output, std::uint8_t byte);
  // The byte seen on the port, or 255 when it cannot be read.
  unsigned Read(int port);
  void OnDPC();

  // The shadow entry of a shared-bus output (for tests).
  std::uint16_t shadow(int output) const { return m_shadow[output - kBusPortBase]; }

private:
  static bool shadowed(int output) {
    return output >= kBusPortBase && output < kBusPortBase + static_cast<int>(kShadowSize);
  }
  void set_shadow(int output, std::uint16_t value) {
    if (shadowed(output)) m_shadow[output - kBusPortBase] = value;
  }
  bool disable_request(int output);

  int m_fd = -1;
  std::uint16_t m_shadow[kShadowSize] = {};
  unsigned m_cursor = 0;
  Dpc m_dpc;
};
