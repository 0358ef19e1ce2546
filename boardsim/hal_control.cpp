#include "boardsim/hal_control.h"

#include <cerrno>

#include "boardsim/record_text.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {
constexpr unsigned kShown[] = {48, 50, 51, 52, 53, 54, 55, 87};
}  // namespace

char const* HalControl::request_name(unsigned long request) {
  switch (request) {
    case Board::HAL_CLOCK_SELECT: return "HW_CLOCK_SELECT";
    case Board::HAL_SPI_READ: return "spi-read";
    case Board::HAL_SPI_WRITE: return "spi-write";
    default: return nullptr;
  }
}

std::string HalControl::decode(unsigned long request, void const* arg) {
  if (request == Board::HAL_CLOCK_SELECT) {
    return "source=" + std::to_string(record_at<Board::ClockSelect>(arg).source);
  }
  Board::SpiAccess const r = record_at<Board::SpiAccess>(arg);
  return "channel=" + std::to_string(r.channel) + " register=" + std::to_string(r.reg) + " data=" + byte_text(r.data);
}

std::optional<std::uint8_t> HalControl::spi_register(unsigned channel, unsigned reg) const {
  if (channel >= kChannels || reg > 0xff) return std::nullopt;
  return m_spi[channel][reg];
}

std::uint8_t HalControl::reads(unsigned channel, unsigned reg) const {
  if (auto const value = m_spi[channel][reg]) return *value;
  return reg == kLineStatus ? kLineUp : 0;
}

int HalControl::ioctl(unsigned long request, void* arg, std::optional<long>& result) {
  if (request == Board::HAL_CLOCK_SELECT) {
    m_clock = std::uint32_t{record_at<Board::ClockSelect>(arg).source};
    return 0;
  }
  Board::SpiAccess const r = record_at<Board::SpiAccess>(arg);
  if (r.channel >= kChannels) return EINVAL;
  if (request == Board::HAL_SPI_WRITE) {
    m_spi[r.channel][r.reg] = r.data;
    return 0;
  }
  // The daemon hands in 0xff; anything else is a record it did not fill.
  if (r.data != 0xff) return EINVAL;
  result = reads(r.channel, r.reg);
  return 0;
}

std::optional<Model::Answer> HalControl::command(std::string_view verb, std::vector<std::string> const& args,
                                                 Number number) {
  if (args.empty() || (args[0] != "clock" && args[0] != "spi")) return std::nullopt;
  bool const spi = args[0] == "spi";
  // Assigned apart, not through ?: (g++ 12 -Wmaybe-uninitialized false alarm in release builds).
  std::optional<std::uint32_t> channel;
  if (args.size() > 1) channel = number(args[1], kChannels - 1);
  if (verb == "state" && !spi) {
    if (args.size() != 1) return Model::Answer{{}, "usage: state hal clock"};
    return Model::Answer{{"clock source=" + (m_clock ? std::to_string(*m_clock) : std::string("-"))}, {}};
  }
  if (verb == "state") {
    if (args.size() != 2 || !channel) return Model::Answer{{}, "usage: state hal spi <channel 0..7>"};
    std::string line = "channel=" + std::to_string(*channel);
    for (unsigned const reg : kShown) {
      auto const value = m_spi[*channel][reg];
      line += ' ' + std::to_string(reg) + '=' + (value ? byte_text(*value) : std::string("-"));
    }
    return Model::Answer{{line}, {}};
  }
  if (verb == "set" && spi) {
    if (args.size() != 4) return Model::Answer{{}, "usage: set hal spi <channel 0..7> <register> <value>"};
    auto const reg = number(args[2], 0xff);
    auto const value = number(args[3], 0xff);
    if (!channel || !reg || !value) return Model::Answer{{}, "usage: set hal spi <channel 0..7> <register> <value>"};
    m_spi[*channel][*reg] = static_cast<std::uint8_t>(*value);
    return Model::Answer{};
  }
  return Model::Answer{{}, "usage: " + std::string(verb) + " hal " + args[0]};
}

}  // namespace BoardSim
