#pragma once
// The single way the process dies on a condition it cannot survive: the report reaches
// every log stream (and through them the system log) before abort().

#include <iosfwd>
#include <string_view>

// Writes `text` (one or more lines; a final line end is added) to `stream`, flushes the
// output, error and log streams, then aborts.
[[noreturn]] void fatal_report(std::string_view text, std::ostream& stream);
[[noreturn]] void fatal_report(std::string_view text);  // on the error stream
