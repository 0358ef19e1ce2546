#pragma once
// Request codes of the board's devices and the record each request carries.
//
// Every code is the board's literal hexadecimal value: the board encodes direction and
// size differently from this host, so never build one with _IO/_IOR/_IOW. Each request
// gets one packed struct for its record and a static_assert on the size the board
// expects, so a changed field shows at compile time rather than as a driver refusal.
// The board stand-in decodes requests with the same definitions.

#include <cstdint>

namespace Board {}  // namespace Board
