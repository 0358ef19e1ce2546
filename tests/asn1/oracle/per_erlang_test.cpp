// The aligned PER coder against Erlang's, on random values of the oracle schema, both
// ways (cross_check.h says how, and which forms differ by design).

#include <gtest/gtest.h>

#include <iostream>

#include "tests/asn1/oracle/cross_check.h"
#include "tests/asn1/oracle/oracle_types.h"

namespace {

using namespace oracle_types;

oracle::Tally run(void const* info, char const* type, unsigned count, std::uint32_t seed, oracle::Findings& findings) {
  oracle::ErlangCodec erlang;
  oracle::RandomValues random(seed);
  oracle::Tally const tally = oracle::cross_check(erlang, oracle::per_check(oracle::oracle_record_name), random, info, type, count, findings);
  std::cout << type << ": " << tally.values << " values both ways, " << tally.octets_compared
            << " of them also octet for octet\n";
  return tally;
}

TEST(PerErlangOracle, EveryKindBothWays) {
  oracle::Findings findings;
  unsigned const count = 3000;
  oracle::Tally const tally = run(&kTop, "Top", count, 20240611, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
  // The generator writes a map of the type's own length in about half the cases.
  EXPECT_GT(tally.octets_compared, count / 4) << "too few values compared octet for octet";
  EXPECT_LT(tally.octets_compared, count) << "no value with an extension map of another length";
}

TEST(PerErlangOracle, MessageSizedValuesBothWays) {
  oracle::Findings findings;
  unsigned const count = 1000;
  oracle::Tally const tally = run(&kMessage, "Message", count, 7, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
  EXPECT_GT(tally.octets_compared, count / 4);
}

}  // namespace
