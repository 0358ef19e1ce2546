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

namespace Board {

// --- Board::kMccControl: the multichannel HDLC controller ----------------------------
// Each open becomes one controller channel once allocated; `write` then sends one frame
// and `read` returns one. Words are unsigned 32-bit in the machine's own byte order.
// The direction bits of these codes are the board's own, not what the records do.

// Turns the open into a channel. `mode`: 0 data, 1 BRI, 2 transparent, 3 SS7
// signalling units; `packet_size`: the largest frame in bytes; `reserved` always 0.
inline constexpr unsigned long MCC_ALLOCATE = 0x40144D00;
struct [[gnu::packed]] MccAllocate {
  std::uint32_t mode;
  std::uint32_t packet_size;
  std::uint32_t reserved;
  std::uint32_t rx_threshold;
  std::uint32_t tx_threshold;
};
static_assert(sizeof(MccAllocate) == 20);

// The channel's switch port, as the request's result. No record: by value, 0.
inline constexpr unsigned long MCC_TIMESLOT = 0x20004D02;

// Free channels by kind, filled by the driver on any open; the fourth word is unused.
inline constexpr unsigned long MCC_CAPACITY = 0x80104D03;
struct [[gnu::packed]] MccCapacity {
  std::uint32_t data;
  std::uint32_t bri;
  std::uint32_t transparent;
  std::uint32_t reserved;
};
static_assert(sizeof(MccCapacity) == 16);

}  // namespace Board
