#pragma once
// The stand-in's own error lines. Its thread runs beside the daemon's loop, which logs
// through the C++ streams without locks, so the stand-in never touches them: each line
// goes out whole with one write(2) to descriptor 2, or to the sink a test installs.

#include <string>
#include <string_view>

namespace BoardSim {

class DiagSink {
public:
  virtual ~DiagSink() = default;
  // One line without its line break; may be called from any thread.
  virtual void line(std::string_view text) = 0;
};

// Writes one line (a line break is added).
void diag(std::string_view text);

// Routes the lines to `sink` (null: descriptor 2 again); returns the previous sink.
DiagSink* set_diag_sink(DiagSink* sink);

}  // namespace BoardSim
