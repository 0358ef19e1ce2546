#pragma once
// The watchdog, Board::kWatchdog: opened write-only, driven by writing exactly "START",
// "PING" or "STOP". Every other payload is EINVAL and every ioctl ENOTTY.

#include <string>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class Watchdog : public Model {
public:
  enum class State { idle, started, stopped };
  struct Write {
    std::string text;
    unsigned ms;  // Mux::milliseconds() at the write
    bool operator==(Write const&) const = default;
  };

  Watchdog();

  // Accepted writes in order; refused and failed ones are only in the request log.
  std::vector<Write> writes() const;
  State state() const;
  // Opens the daemon still holds.
  int open_count() const;

protected:
  int open(Open& open, int flags) override;
  void close(Open& open) override;
  int write(Open& open, std::string_view data) override;

private:
  std::vector<Write> m_writes;
  State m_state = State::idle;
  int m_open_count = 0;
};

}  // namespace BoardSim
