#pragma once
// What every fuzz target shares: a failed check ends the run (libFuzzer keeps the input),
// and a stream buffer that swallows the log lines millions of inputs would write.

#include <cstdlib>
#include <streambuf>

namespace fuzz {

inline void check(bool holds) {
  if (!holds) std::abort();
}

struct NullBuffer : std::streambuf {
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

}  // namespace fuzz
