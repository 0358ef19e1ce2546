// As in the daemon, a write to a vanished peer fails with EPIPE instead of killing the
// process.
#include <csignal>

namespace {
[[maybe_unused]] int const ignored = (std::signal(SIGPIPE, SIG_IGN), 0);
}
