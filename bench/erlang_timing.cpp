#include "bench/erlang_timing.h"

#include <algorithm>
#include <iterator>
#include <sstream>

ErlangFigures erlang_figures(oracle::ErlangCodec& codec, std::string const& type, std::string const& term) {
  ErlangFigures f;
  if (!codec.failure().empty()) {
    f.failure = codec.failure();
    return f;
  }
  std::string const request = "time " + type + " " + std::to_string(kTimedPass) + " " + term;
  codec.ask(request);
  for (int pass = 0; pass < 3 && f.failure.empty(); ++pass) {
    std::istringstream answer(codec.ask(request));
    std::string status;
    double encode_ns = 0, decode_ns = 0;
    answer >> status >> encode_ns >> decode_ns;
    if (!codec.failure().empty())
      f.failure = codec.failure();
    else if (status != "ok")
      f.failure = "Erlang's codec answered: " + answer.str();
    f.encode_ns = pass == 0 ? encode_ns : std::min(f.encode_ns, encode_ns);
    f.decode_ns = pass == 0 ? decode_ns : std::min(f.decode_ns, decode_ns);
  }
  return f;
}

void report_against_erlang(benchmark::State& state, double ours_ns, ErlangFigures const& figures,
                           double ErlangFigures::*figure) {
  state.counters["best_ns"] = ours_ns;
  if (!figures.failure.empty()) return;
  state.counters["erlang_ns"] = figures.*figure;
  state.counters["x_faster"] = figures.*figure / ours_ns;
}

void erlang_entry(benchmark::State& state, ErlangFigures const& figures, double ErlangFigures::*figure) {
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

void encode_bench(benchmark::State& state, ASN1::AbstractData const& value, ErlangFigures const& erlang) {
  auto const encode = [&] {
    std::vector<char> octets = per_octets(value);
    benchmark::DoNotOptimize(octets.data());
  };
  long const allocations_before = allocation_count();
  for (auto _ : state) encode();
  state.counters["allocs"] =
      static_cast<double>(allocation_count() - allocations_before) / static_cast<double>(state.iterations());
  state.counters["octets"] = static_cast<double>(per_octets(value).size());
  report_against_erlang(state, best_pass_ns(encode), erlang, &ErlangFigures::encode_ns);
}
