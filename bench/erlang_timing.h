#pragma once
// Erlang's compiled aligned PER codec timed beside the project's in the same run: the
// escript's loop encodes a value and then decodes its octets a given number of times;
// after a warm-up pass the best of three passes counts.

#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <vector>

#include "asn1/asn1.h"
#include "bench/allocation_count.h"
#include "tests/asn1/oracle/erlang_codec.h"

struct ErlangFigures {
  std::string failure;  // empty when the figures hold
  double encode_ns = 0;
  double decode_ns = 0;
};

// Operations in one timed pass, on both sides.
constexpr long kTimedPass = 200000;

// Nanoseconds per encode and per decode of the value written as `term`, of the type that
// the codec's schema calls `type`.
ErlangFigures erlang_figures(oracle::ErlangCodec& codec, std::string const& type, std::string const& term);

// Erlang's time beside ours (best_pass_ns) in the entry's counters; only ours when Erlang
// failed.
void report_against_erlang(benchmark::State& state, double ours_ns, ErlangFigures const& figures,
                           double ErlangFigures::*figure);

// An entry of Erlang's own: one manual iteration of its time per operation, or its
// failure as the entry's error.
void erlang_entry(benchmark::State& state, ErlangFigures const& figures, double ErlangFigures::*figure);

// Our time per operation taken as Erlang's is: after a warm-up pass, the best of three
// passes of kTimedPass operations. A mean over the entry's run would set a figure that
// took the machine's worst moments against one that skipped them.
template <class Operation>
double best_pass_ns(Operation operation) {
  double best = 0;
  for (int pass = 0; pass < 4; ++pass) {
    auto const start = std::chrono::steady_clock::now();
    for (long i = 0; i < kTimedPass; ++i) operation();
    double const ns =
        std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kTimedPass;
    if (pass == 1 || (pass > 1 && ns < best)) best = ns;
  }
  return best;
}

// The value's aligned PER octets, as the control server sends a message (none when it
// does not encode).
std::vector<char> per_octets(ASN1::AbstractData const& value);

// Encodes `value` each iteration; counts heap allocations per encode and the octets, and
// reports against Erlang's encode.
void encode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangFigures const& erlang);

// Decodes `value`'s octets each iteration into a fresh value from `make`, destroyed
// again, as the server does per frame; counts heap allocations per decode and reports
// against Erlang's decode. An entry whose octets do not decode to `value` fails.
template <class Make>
void decode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangFigures const& erlang, Make make) {
  std::vector<char> const octets = per_octets(value);
  char const* const begin = octets.data();
  char const* const end = begin + octets.size();
  {
    auto check = make();
    ASN1::CoderEnv env;
    if (octets.empty() || !ASN1::decode(begin, end, &env, check, true) || check != value) {
      state.SkipWithError("the message does not decode to itself");
      return;
    }
  }
  auto const decode_fresh = [&] {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    auto fresh = make();
    benchmark::DoNotOptimize(ASN1::decode(begin, end, &env, fresh, true));
  };
  long const allocations_before = allocation_count();
  for (auto _ : state) decode_fresh();
  state.counters["allocs"] =
      static_cast<double>(allocation_count() - allocations_before) / static_cast<double>(state.iterations());
  report_against_erlang(state, best_pass_ns(decode_fresh), erlang, &ErlangFigures::decode_ns);
}
