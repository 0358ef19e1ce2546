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

// "/dev/hal": the time-slot switch. Ports are switch port numbers; the byte travels in
// the low 8 bits of its word.
inline constexpr unsigned long HAL_MUX_CONNECT = 0x80084D02;  // the output takes the input
inline constexpr unsigned long HAL_MUX_DISABLE = 0x80044D03;  // the output drives nothing
inline constexpr unsigned long HAL_MUX_WRITE = 0xC0084D04;    // the output sends a constant byte
inline constexpr unsigned long HAL_MUX_READ = 0xC0084D05;     // the byte seen on a port

struct __attribute__((packed)) MuxConnect {
  std::uint32_t output;
  std::uint32_t input;
};
static_assert(sizeof(MuxConnect) == 8);

struct __attribute__((packed)) MuxDisable {
  std::uint32_t output;
};
static_assert(sizeof(MuxDisable) == 4);

struct __attribute__((packed)) MuxWrite {
  std::uint32_t output;
  std::uint32_t byte;
};
static_assert(sizeof(MuxWrite) == 8);

struct __attribute__((packed)) MuxRead {
  std::uint32_t port;
  std::uint32_t byte;  // 0xFF on the way in
};
static_assert(sizeof(MuxRead) == 8);

}  // namespace Board
