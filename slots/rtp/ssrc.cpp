#include "slots/rtp/ssrc.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

namespace RtpSsrc {

namespace {

// splitmix64: every seed gives a full-period sequence of well mixed words.
std::uint64_t mix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

std::uint64_t nanoseconds(clockid_t clock) {
  timespec ts{};
  ::clock_gettime(clock, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(ts.tv_nsec);
}

std::uint64_t seed() {
  std::uint64_t value = 0;
  // Early in boot the pool may not be ready (EAGAIN), an old kernel lacks the call
  // (ENOSYS): the clocks then serve, which still differ from board to board.
  if (::getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
  return fallback_seed();
}

}  // namespace

std::uint64_t fallback_seed() {
  std::uint64_t state = nanoseconds(CLOCK_REALTIME);
  std::uint64_t const a = mix(state);
  state ^= nanoseconds(CLOCK_MONOTONIC);
  std::uint64_t const b = mix(state);
  state ^= static_cast<std::uint64_t>(::getpid());
  return a ^ b ^ mix(state);
}

std::uint32_t next() {
  // Seeded at the first session that needs one, not at start-up.
  static std::uint64_t state = seed();
  return static_cast<std::uint32_t>(mix(state) >> 32);
}

}  // namespace RtpSsrc
