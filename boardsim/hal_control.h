#pragma once
// What "/dev/hal" does besides switching: the clock-source selector and the SPI bus of
// the eight BRI line-interface chips, each chip 256 byte registers. Part of the Hal
// model (boardsim/hal.h), which hands it the requests and commands that are its own.
//
// Requests (foundation/board_requests.h), logged with these fields:
//   ioctl HW_CLOCK_SELECT  source=<n>              any source is taken and kept
//   ioctl spi-read         channel=<n> register=<n> data=0x<hh>  result=<value>
//   ioctl spi-write        channel=<n> register=<n> data=0x<hh>
// A channel above 7 is EINVAL; so is a read whose data is not 0xff going in. A register
// reads what was last written or set, 0 before that, and register 51 (line status)
// 0xc5, a line in order, until it is written or set.
//
// Control socket:
//   state hal clock                  clock source=<n|->
//   state hal spi <channel>          channel=<n> 48=.. 50=.. 51=.. 52=.. 53=.. 54=.. 55=.. 87=..
//                                    each 0x<hh>, or - when never written nor set
//   set hal spi <channel> <register> <value>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class HalControl {
public:
  static constexpr unsigned kChannels = 8;
  static constexpr unsigned kLineStatus = 51;
  static constexpr std::uint8_t kLineUp = 0xc5;

  // Null for a request that is not one of these.
  static char const* request_name(unsigned long request);
  static std::string decode(unsigned long request, void const* arg);
  // The request's errno; a read's register value goes to `result`.
  int ioctl(unsigned long request, void* arg, std::optional<long>& result);
  // A number word of a command, at most max (the model's own reading).
  using Number = std::optional<std::uint32_t> (*)(std::string_view word, std::uint32_t max);
  // Nothing when the words are not about the clock or the SPI bus.
  std::optional<Model::Answer> command(std::string_view verb, std::vector<std::string> const& args, Number number);

  std::optional<std::uint32_t> clock_source() const { return m_clock; }
  // The register's value; nothing when never written nor set.
  std::optional<std::uint8_t> spi_register(unsigned channel, unsigned reg) const;

private:
  std::uint8_t reads(unsigned channel, unsigned reg) const;

  std::optional<std::uint32_t> m_clock;
  std::array<std::array<std::optional<std::uint8_t>, 256>, kChannels> m_spi{};
};

}  // namespace BoardSim
