#pragma once
// The synchronisation sources of sessions created without one: RFC 3550 wants them
// random and different on every board, so they come from a generator of the RTP family's
// own, seeded once from the kernel's entropy (or, when it has none to give, from the
// clocks and the process id). The C library's rand/random state is never touched: other
// code may seed and replay it.

#include <cstdint>

namespace RtpSsrc {

std::uint32_t next();

// The seed when getrandom(2) cannot give one: the real-time and monotonic clocks in ns
// and the process id, mixed.
std::uint64_t fallback_seed();

}  // namespace RtpSsrc
