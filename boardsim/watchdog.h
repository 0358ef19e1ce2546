#pragma once
// The watchdog, Board::kWatchdog: opened write-only, driven by writing exactly "START",
// "PING" or "STOP". Every other payload is EINVAL and every ioctl ENOTTY.
//
// Control socket: "state misc/gw-wd" (the "watchdog" command) answers
//   state <idle|started|stopped>
//   opens <n>
//   <ms> <text>          one line per accepted write, oldest first
//   dropped <n>          writes no longer kept

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "boardsim/model.h"
#include "boardsim/ring.h"

namespace BoardSim {

class Watchdog : public Model {
public:
  enum class State { idle, started, stopped };
  struct Write {
    std::string text;
    unsigned ms;  // Mux::milliseconds() at the write
    bool operator==(Write const&) const = default;
  };

  // Keeps the most recent `capacity` writes: a daemon pings for as long as it runs.
  explicit Watchdog(std::size_t capacity = 1024);

  // Accepted writes in order; refused and failed ones are only in the request log.
  std::vector<Write> writes() const;
  // Accepted writes no longer kept.
  std::uint64_t dropped_writes() const;
  State state() const;
  // Opens the daemon still holds.
  int open_count() const;

protected:
  int open(Open& open, int flags) override;
  void close(Open& open) override;
  int write(Open& open, std::string_view data) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  Ring<Write> m_writes;
  State m_state = State::idle;
  int m_open_count = 0;
};

}  // namespace BoardSim
