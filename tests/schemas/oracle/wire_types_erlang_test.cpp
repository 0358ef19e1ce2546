// Every type that LGCP::Message or MON::Message reaches, through the project's aligned PER
// coder and Erlang's compiled from the generated translation, both ways on random values
// (tests/asn1/oracle/cross_check.h says how). The translation writes each ENUMERATED as
// the INTEGER range it is coded as, so values stay within 0..maximum. None of these types
// has a SEQUENCE extension addition, so the extension bit map's length, which differs by
// design, does not arise; a value of no bits, which Erlang writes as one zero octet, is
// not compared at the top (it is, inside the types that hold it). Erlang's decoder fails
// on the one-name extensible enumerations of LEMZGW (cross_check.h): values that reach
// them are checked in our direction only, and the run says which.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>

#include "schemas/wire_types.h"
#include "tests/asn1/oracle/cross_check.h"
#include "tests/schemas/oracle/wire_oracle.h"

namespace {

// Lists as long as the decoder takes, strings up to the longest length the coder writes,
// and a whole value small enough that the run stays short.
constexpr oracle::RandomValues::Limits kLimits{128, 16383, 600, 20000};
oracle::CrossCheck const kPer = oracle::per_check(wire_oracle::record_name);

// Enough values to meet every alternative, optional field and list length class a few
// times, and no more: the small types are many.
unsigned values_for(void const* info) {
  std::unique_ptr<ASN1::AbstractData> const probe(ASN1::AbstractData::create(info));
  unsigned parts = 1;
  if (auto const* s = dynamic_cast<ASN1::SEQUENCE const*>(probe.get()))
    parts = s->fieldCount();
  else if (auto const* c = dynamic_cast<ASN1::CHOICE const*>(probe.get()))
    parts = c->choice_info().known_count;
  else if (auto const* e = dynamic_cast<ASN1::ENUMERATED const*>(probe.get()))
    parts = static_cast<unsigned>(e->getMaximum()) / 4 + 1;
  return std::clamp(6 * parts, 24u, 150u);
}

// Each type its own seed, so that its values do not depend on the types before it.
std::uint32_t seed_of(std::string const& name) {
  std::uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
  return hash;
}

struct Module {
  char const* name;
  unsigned types;  // that the two messages reach
};

void PrintTo(Module const& module, std::ostream* os) { *os << module.name; }

class WireTypesAgainstErlang : public testing::TestWithParam<Module> {};

TEST_P(WireTypesAgainstErlang, EveryTypeBothWays) {
  Module const module = GetParam();
  std::unique_ptr<oracle::ErlangCodec> const codec = wire_oracle::start_codec();
  oracle::ErlangCodec& erlang = *codec;
  ASSERT_TRUE(erlang.failure().empty()) << erlang.failure();
  oracle::Findings findings;
  unsigned types = 0, values = 0;
  for (Schemas::WireType const& type : Schemas::wire_types()) {
    if (std::string(type.module) != module.name) continue;
    ++types;
    oracle::RandomValues random(seed_of(type.erlang), kLimits);
    unsigned const count = values_for(type.info);
    oracle::Tally const tally = oracle::cross_check(erlang, kPer, random, type.info, type.erlang, count, findings);
    values += tally.values;
    if (tally.values + tally.zero_bits != count) continue;  // the findings say why
    if (tally.unreadable)
      std::cout << type.module << "::" << type.name << ": " << tally.unreadable << " of " << count
                << " values Erlang's decoder cannot read back from its own octets (ours are the same)\n";
    if (tally.values == 0)
      std::cout << type.module << "::" << type.name << ": no bits in any value, compared only inside others\n";
    else if (tally.zero_bits)
      std::cout << type.module << "::" << type.name << ": " << tally.zero_bits << " of " << count
                << " values of no bits not compared\n";
  }
  std::cout << module.name << ": " << types << " types, " << values << " values both ways\n";
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(types, module.types) << "types of " << module.name << " that the messages reach";
}

INSTANTIATE_TEST_SUITE_P(Modules, WireTypesAgainstErlang,
                         testing::Values(Module{"LGCP", 105}, Module{"TERM", 67}, Module{"ACP", 10},
                                         Module{"MON", 19}, Module{"LEMZGW", 133}, Module{"HSP", 1},
                                         Module{"BASE", 1}),
                         [](testing::TestParamInfo<Module> const& info) { return std::string(info.param.name); });

}  // namespace
