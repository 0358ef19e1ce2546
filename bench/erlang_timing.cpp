#include "bench/erlang_timing.h"

#include <iterator>
#include <map>
#include <sstream>

ErlangFigures erlang_turn(ErlangValue const& value) {
  ErlangFigures f;
  oracle::ErlangCodec& codec = *value.codec;
  if (codec.failure().empty()) {
    std::istringstream answer(codec.ask("time " + value.type + " " + std::to_string(kTimedTurn) + " " + value.term));
    std::string status;
    answer >> status >> f.encode_ns >> f.decode_ns;
    if (!codec.failure().empty())
      f.failure = codec.failure();
    else if (status != "ok")
      f.failure = "Erlang's codec answered: " + answer.str();
  } else {
    f.failure = codec.failure();
  }
  return f;
}

namespace {

ErlangFigures erlang_figures(ErlangValue const& value) {
  erlang_turn(value);  // warm-up
  ErlangFigures best;
  for (int turn = 0; turn < kTimedTurns; ++turn) best.keep_best(erlang_turn(value));
  return best;
}

}  // namespace

void report_against_erlang(benchmark::State& state, double ours_ns, ErlangFigures const& figures,
                           double ErlangFigures::*figure) {
  state.counters["best_ns"] = ours_ns;
  if (!figures.failure.empty()) return;
  state.counters["erlang_ns"] = figures.*figure;
  state.counters["x_faster"] = figures.*figure / ours_ns;
}

void erlang_entry(benchmark::State& state, ErlangValue const& value, double ErlangFigures::*figure) {
  static std::map<std::string, ErlangFigures> measured;
  auto found = measured.find(value.type + " " + value.term);
  if (found == measured.end()) found = measured.emplace(value.type + " " + value.term, erlang_figures(value)).first;
  ErlangFigures const& figures = found->second;
  if (!figures.failure.empty()) {
    state.SkipWithError(figures.failure.c_str());
    return;
  }
  for (auto _ : state) state.SetIterationTime(figures.*figure * 1e-9);
}

std::vector<char> per_octets(ASN1::AbstractData const& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  out.reserve(200);
  if (!ASN1::encode(value, &env, std::back_inserter(out))) out.clear();
  return out;
}

void encode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangValue const& erlang) {
  auto const encode = [&] {
    std::vector<char> octets = per_octets(value);
    benchmark::DoNotOptimize(octets.data());
  };
  long const allocations_before = allocation_count();
  for (auto _ : state) encode();
  state.counters["allocs"] =
      static_cast<double>(allocation_count() - allocations_before) / static_cast<double>(state.iterations());
  state.counters["octets"] = static_cast<double>(per_octets(value).size());
  time_against_erlang(state, encode, erlang, &ErlangFigures::encode_ns);
}
