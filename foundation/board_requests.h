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

// --- Board::kModemControl: the DSP modems ---------------------------------------------
// These codes carry no direction or size bits. A request by value answers with its
// result; a record is 32-bit words in the host's byte order.

namespace Board {

// By value 0: allocates the lowest free modem to the open; returns its number.
inline constexpr unsigned long MCTL_ALLOCATE = 0xbb0b;
// By value 0: returns the TDM timeslot of the open's modem.
inline constexpr unsigned long MCTL_GET_TIMESLOT = 0xbb15;
// By value the previous modem number (-1 to start): returns the next one, ENODEV after
// the last. Any open may ask.
inline constexpr unsigned long MCTL_NEXT_MODEM = 0xbb0c;

// Digital data modes: V.110 bit 0, 8 bit 1, 7 bit bit 2.
inline constexpr unsigned long MCTL_SET_DDM = 0xbb16;
struct [[gnu::packed]] ModemMode {
  std::int32_t modem;
  std::uint32_t mask;
};
static_assert(sizeof(ModemMode) == 8);

// Requests on the modem alone; `arg` is always -1.
inline constexpr unsigned long MCTL_RESET_DMP = 0xbb3a;
inline constexpr unsigned long MCTL_ANSWER = 0xbb03;
inline constexpr unsigned long MCTL_ORIGINATE = 0xbb04;
inline constexpr unsigned long MCTL_ORIGINATE_FAX = 0xbb40;
struct [[gnu::packed]] ModemCommand {
  std::int32_t modem;
  std::int32_t arg;
};
static_assert(sizeof(ModemCommand) == 8);

// Sets one modem parameter.
inline constexpr unsigned long MCTL_SET_DMP = 0xbb38;
struct [[gnu::packed]] ModemParameter {
  std::int32_t modem;
  std::int32_t offset;
  std::int32_t value;
};
static_assert(sizeof(ModemParameter) == 12);

}  // namespace Board
