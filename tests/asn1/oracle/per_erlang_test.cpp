// The aligned PER coder against Erlang's, on random values of the oracle schema, both
// ways: Erlang decodes our octets to the value we encoded, we decode Erlang's octets of
// that value to the same value and encode it back to Erlang's octets, and our octets are
// Erlang's wherever both write the same form.
//
// The one form that differs by design is an extensible SEQUENCE's extension bit map:
// ours is as long as the value's map, Erlang's as long as the type's list of additions.
// A value whose map is shorter or longer while an extension is present is compared
// after decoding only.

#include <gtest/gtest.h>

#include "tests/asn1/oracle/cross_check.h"
#include "tests/asn1/oracle/erlang_terms.h"
#include "tests/asn1/oracle/oracle_types.h"

namespace {

using namespace oracle_types;
using oracle::Findings;
using oracle::Tally;

oracle::CrossCheck const kPer{ASN1::CoderEnv::per, &oracle::erlang_term, true, false};

Tally compare_with_erlang(void const* info, char const* type, unsigned count, std::uint32_t seed, Findings& findings) {
  oracle::ErlangCodec erlang;
  return oracle::compare_with_erlang(erlang, kPer, info, type, count, seed, findings);
}

TEST(PerErlangOracle, EveryKindBothWays) {
  Findings findings;
  unsigned const count = 3000;
  Tally const tally = compare_with_erlang(&kTop, "Top", count, 20240611, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
  // The generator writes a map of the type's own length in about half the cases.
  EXPECT_GT(tally.octets_compared, count / 4) << "too few values compared octet for octet";
  EXPECT_LT(tally.octets_compared, count) << "no value with an extension map of another length";
}

TEST(PerErlangOracle, MessageSizedValuesBothWays) {
  Findings findings;
  unsigned const count = 1000;
  Tally const tally = compare_with_erlang(&kMessage, "Message", count, 7, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
  EXPECT_GT(tally.octets_compared, count / 4);
}

}  // namespace
