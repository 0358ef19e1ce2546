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

// --- Board::kHal: clock source and the SPI bus of the BRI line interfaces -------------

// Selects the board's clock source; the record is the source number.
inline constexpr unsigned long HAL_CLOCK_SELECT = 0x80044301;
struct [[gnu::packed]] ClockSelect {
  std::uint32_t source;
};
static_assert(sizeof(ClockSelect) == 4);

// One register of a line-interface chip (`channel` 0..7). A read goes in with `data`
// 0xFF and returns the register's value as the request's result; a write stores `data`.
inline constexpr unsigned long HAL_SPI_READ = 0xC0034203;
inline constexpr unsigned long HAL_SPI_WRITE = 0xC0034204;
struct [[gnu::packed]] SpiAccess {
  std::uint8_t channel;
  std::uint8_t reg;
  std::uint8_t data;
};
static_assert(sizeof(SpiAccess) == 3);

// --- Board::kMaintenance: the E1 framers ----------------------------------------------

// A trunk's synchronisation state and error counters: the record goes in zeroed but
// for `trunk` and comes back filled.
inline constexpr unsigned long E1_TRUNK_STATUS = 0xC0504D03;
struct [[gnu::packed]] E1TrunkStatus {
  std::uint32_t trunk;
  std::uint8_t unused1[32];
  std::uint32_t slips;
  std::uint32_t loss_bf;
  std::uint32_t loss_carrier;
  std::uint32_t ais;
  std::uint32_t rai;
  std::uint8_t unused2[20];
  std::uint32_t state;  // a trunk state: normal 0 .. disabled 6
};
static_assert(sizeof(E1TrunkStatus) == 80);

// The trunks' transmit-clock mask (bit n: trunk n), passed as the value itself.
inline constexpr unsigned long E1_TRANSMIT_CLOCK = 0xC0044D0B;

// --- Board::kE1Cas: channel-associated signalling --------------------------------------

// Opens or closes a trunk's signalling; the trunk number is the value itself.
inline constexpr unsigned long CAS_OPEN_TRUNK = 0x80044300;
inline constexpr unsigned long CAS_CLOSE_TRUNK = 0x80044301;

// A timeslot's signalling bits (the low 4 of each byte). Also the record read from the
// device whenever a timeslot's received bits change.
inline constexpr unsigned long CAS_SET_BITS = 0xC00C4302;
inline constexpr unsigned long CAS_GET_BITS = 0xC00C4303;
struct [[gnu::packed]] CasChannel {
  std::uint32_t trunk;
  std::uint32_t timeslot;
  std::uint8_t rx;
  std::uint8_t tx;
  std::uint8_t padding[2];
};
static_assert(sizeof(CasChannel) == 12);

// Switches a timeslot's signalling on (`off` 0, sending `channel.tx`) or off (`off` 1).
inline constexpr unsigned long CAS_CONFIGURE = 0xC0104304;
struct [[gnu::packed]] CasConfigure {
  CasChannel channel;
  std::uint32_t off;
};
static_assert(sizeof(CasConfigure) == 16);

}  // namespace Board
