#include "boardsim/diag.h"

#include <atomic>
#include <cerrno>
#include <unistd.h>

namespace BoardSim {

namespace {

std::atomic<DiagSink*> g_sink{nullptr};

void write_all(std::string const& text) {
  char const* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t const wrote = ::write(2, at, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // nowhere to report it
    at += wrote;
    left -= static_cast<std::size_t>(wrote);
  }
}

}  // namespace

void diag(std::string_view text) {
  if (DiagSink* const sink = g_sink.load()) {
    sink->line(text);
    return;
  }
  std::string line(text);
  line += '\n';
  write_all(line);
}

DiagSink* set_diag_sink(DiagSink* sink) { return g_sink.exchange(sink); }

}  // namespace BoardSim
