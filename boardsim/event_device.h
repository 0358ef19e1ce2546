#pragma once
// What the tone and DSP models share: they deliver event records that a test describes
// in words to the oldest open still held, and read their records out of the daemon's
// requests.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/model.h"
#include "boardsim/record_text.h"

namespace BoardSim {

class EventDevice : public Model {
public:
  using Model::Model;

protected:
  int open(Open& open, int flags) override;
  void close(Open& open) override;

  // Writes the record into the oldest open still held; the error text when it could not.
  std::string deliver_event(void const* record, std::size_t len);

  // A 32-bit word of an event: decimal or 0x hexadecimal, or negative as its two's
  // complement (-1 is 0xffffffff).
  static std::optional<std::uint32_t> word(std::string_view text);

private:
  std::vector<Open*> m_opens;  // oldest first
};

}  // namespace BoardSim
