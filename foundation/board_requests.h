#pragma once
// Request codes of the board's devices and the record each request carries.
//
// Every code is the board's literal hexadecimal value: the board encodes direction and
// size differently from this host, so never build one with _IO/_IOR/_IOW. Each request
// gets one packed struct for its record and a static_assert on the size the board
// expects, so a changed field shows at compile time rather than as a driver refusal.
// The board stand-in decodes requests with the same definitions.

#include <cstdint>

namespace Board {

// --- Board::kHal: the time-slot switch ------------------------------------------------
// Every word is unsigned 32-bit in the machine's own byte order. A port number names a
// switch port; an output is driven from an input port or by a constant byte.

// Feeds `output` from `input`.
inline constexpr unsigned long HAL_MUX_CONNECT = 0x80084D02;
struct [[gnu::packed]] MuxConnect {
  std::uint32_t output;
  std::uint32_t input;
};
static_assert(sizeof(MuxConnect) == 8);

// Stops driving `output`.
inline constexpr unsigned long HAL_MUX_DISABLE = 0x80044D03;
struct [[gnu::packed]] MuxDisable {
  std::uint32_t output;
};
static_assert(sizeof(MuxDisable) == 4);

// Drives `output` with the constant `byte` (0..255 in the low 8 bits).
inline constexpr unsigned long HAL_MUX_WRITE = 0xC0084D04;
struct [[gnu::packed]] MuxWrite {
  std::uint32_t output;
  std::uint32_t byte;
};
static_assert(sizeof(MuxWrite) == 8);

// Reads the byte seen on `port`: `byte` goes in as 0xFF and comes back as that byte.
inline constexpr unsigned long HAL_MUX_READ = 0xC0084D05;
struct [[gnu::packed]] MuxRead {
  std::uint32_t port;
  std::uint32_t byte;
};
static_assert(sizeof(MuxRead) == 8);

}  // namespace Board
