#pragma once
// Starts the programs a modem slot runs (the PPP daemon, the fax sender and receiver).
// Everything the child needs is built before fork; the child then only makes system
// calls: it resets the daemon's signal handlers, writes its line by write(2) on
// descriptor 1, execs, and ends with _exit, so it neither flushes the daemon's stream
// buffers nor runs its exit handlers. Signals stay blocked from before fork until the
// child's handlers are back to their defaults: a SIGHUP sent right after fork ends the
// child instead of running the daemon's handler in it.

#include <string>
#include <sys/types.h>
#include <vector>

namespace ModemChild {

// At most this many entries in an argument list, its terminating null included.
constexpr std::size_t kMaxEntries = 64;

// What the child does before its exec.
struct Steps {
  bool pause = false;          // sleep(seconds) first (0 only yields)
  unsigned seconds = 0;
  char const* say = nullptr;   // a line written on descriptor 1, then
  bool say_failure = false;    // "fail to exec!" when the exec returns
};

// Forks a child that runs args[0] with args (at most kMaxEntries - 1 of them; further
// ones are dropped). The child ends with status 2 when the exec fails. Returns the pid,
// or -1 with errno from fork.
pid_t Start(std::vector<std::string> const& args, Steps const& steps = {});

}  // namespace ModemChild
