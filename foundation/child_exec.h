#pragma once
// Starts the programs the slots run as children (the PPP daemon, the fax sender and
// receiver, the T.38 relay). Everything the child needs is built before fork; the child
// then only makes system calls: it resets the daemon's signal handlers, writes its line
// by write(2) on descriptor 1, execs, and ends with _exit, so it neither flushes the
// daemon's stream buffers nor runs its exit handlers. Signals stay blocked from before
// fork until the child's handlers are back to their defaults: a SIGHUP or SIGTERM sent
// right after fork ends the child instead of running the daemon's handler in it.

#include <string>
#include <sys/types.h>
#include <vector>

namespace ChildExec {

// At most this many entries in an argument list, its terminating null included.
constexpr std::size_t kMaxEntries = 64;

// What the child does before its exec.
struct Steps {
  bool pause = false;          // sleep(seconds) first (0 only yields)
  unsigned seconds = 0;
  char const* say = nullptr;   // a line written on descriptor 1, then
  bool say_failure = false;    // "fail to exec!" when the exec returns
  int input = -1;              // a descriptor that becomes the program's standard input
  int exec_failed = 2;         // the child's exit status when the exec fails
};

// Forks a child that runs args[0] with args (at most kMaxEntries - 1 of them; further
// ones are dropped). Returns the pid, or -1 with errno from fork.
pid_t Start(std::vector<std::string> const& args, Steps const& steps = {});

}  // namespace ChildExec
