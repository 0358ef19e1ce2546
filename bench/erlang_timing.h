#pragma once
// Erlang's compiled aligned PER codec timed beside the project's in the same run: the
// escript's loop encodes a value and then decodes its octets a given number of times.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "asn1/asn1.h"
#include "bench/allocation_count.h"
#include "tests/asn1/oracle/erlang_codec.h"

struct ErlangFigures {
  std::string failure;  // empty when the figures hold
  double encode_ns = 0;
  double decode_ns = 0;

  // Takes a turn's figures where they are better, or its failure; a failure stays.
  void keep_best(ErlangFigures const& turn) {
    if (!failure.empty()) return;
    if (!turn.failure.empty() || encode_ns == 0) {
      *this = turn;
      return;
    }
    encode_ns = std::min(encode_ns, turn.encode_ns);
    decode_ns = std::min(decode_ns, turn.decode_ns);
  }
};

// A value as Erlang's codec times it: the type's name in the codec's schema and the
// value written as a term.
struct ErlangValue {
  oracle::ErlangCodec* codec;
  std::string type;
  std::string term;
};

// Operations in one timed turn, and timed turns after a warm-up one, on both sides.
constexpr long kTimedTurn = 200000;
constexpr int kTimedTurns = 5;

// One turn of Erlang's: nanoseconds per encode and per decode over kTimedTurn of each.
ErlangFigures erlang_turn(ErlangValue const& value);

// An entry of Erlang's own: one manual iteration of its time per operation (the best
// timed turn, measured once per run for both entries of a value), or its failure as the
// entry's error.
void erlang_entry(benchmark::State& state, ErlangValue const& value, double ErlangFigures::*figure);

// Nanoseconds per operation over one turn of ours.
template <class Operation>
double our_turn(Operation& operation) {
  auto const start = std::chrono::steady_clock::now();
  for (long i = 0; i < kTimedTurn; ++i) operation();
  return std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - start).count() / kTimedTurn;
}

// Puts ours and Erlang's time per operation in the entry's counters (only ours when
// Erlang fails). This machine's speed drifts over seconds, so the two are timed in
// turns, ours then Erlang's, and the best timed turn of each side counts.
void report_against_erlang(benchmark::State& state, double ours_ns, ErlangFigures const& erlang,
                           double ErlangFigures::*figure);
template <class Operation>
void time_against_erlang(benchmark::State& state, Operation operation, ErlangValue const& erlang,
                         double ErlangFigures::*figure) {
  // The library runs an entry more than once to size its loop: the turns are taken once.
  static std::map<std::string, std::pair<double, ErlangFigures>> taken;
  std::string const key = (figure == &ErlangFigures::encode_ns ? "encode " : "decode ") + erlang.type + " " + erlang.term;
  if (auto const found = taken.find(key); found != taken.end()) {
    report_against_erlang(state, found->second.first, found->second.second, figure);
    return;
  }
  double ours = 0;
  ErlangFigures theirs;
  for (int turn = 0; turn <= kTimedTurns; ++turn) {
    double const ns = our_turn(operation);
    ErlangFigures const t = erlang_turn(erlang);
    if (turn == 0) continue;
    ours = turn == 1 ? ns : std::min(ours, ns);
    theirs.keep_best(t);
  }
  taken.emplace(key, std::make_pair(ours, theirs));
  report_against_erlang(state, ours, theirs, figure);
}

// The value's aligned PER octets, as the control server sends a message (none when it
// does not encode).
std::vector<char> per_octets(ASN1::AbstractData const& value);

// Encodes `value` each iteration; counts heap allocations per encode and the octets, and
// reports against Erlang's encode.
void encode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangValue const& erlang);

// Decodes `value`'s octets each iteration into a fresh value from `make`, destroyed
// again, as the server does per frame; counts heap allocations per decode and reports
// against Erlang's decode. An entry whose octets do not decode to `value` fails.
template <class Make>
void decode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangValue const& erlang, Make make) {
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
  time_against_erlang(state, decode_fresh, erlang, &ErlangFigures::decode_ns);
}
