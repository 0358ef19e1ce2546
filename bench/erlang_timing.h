#pragma once
// Erlang's compiled aligned PER codec timed beside the project's in the same run: the
// escript's loop encodes a value and then decodes its octets a given number of times;
// after a warm-up pass the best of three passes counts.

#include <benchmark/benchmark.h>

#include <string>

#include "tests/asn1/oracle/erlang_codec.h"

struct ErlangFigures {
  std::string failure;  // empty when the figures hold
  double encode_ns = 0;
  double decode_ns = 0;
};

// Nanoseconds per encode and per decode of the value written as `term`, of the type that
// the codec's schema calls `type`.
ErlangFigures erlang_figures(oracle::ErlangCodec& codec, std::string const& type, std::string const& term);

// Erlang's time beside ours in the entry's counters (nothing when Erlang failed).
void report_against_erlang(benchmark::State& state, double ours_ns, ErlangFigures const& figures,
                           double ErlangFigures::*figure);

// An entry of Erlang's own: one manual iteration of its time per operation, or its
// failure as the entry's error.
void erlang_entry(benchmark::State& state, ErlangFigures const& figures, double ErlangFigures::*figure);
