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

#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/asn1/oracle/erlang_codec.h"
#include "tests/asn1/oracle/erlang_terms.h"
#include "tests/asn1/oracle/oracle_types.h"
#include "tests/asn1/oracle/random_values.h"

namespace {

using namespace oracle_types;
using oracle::from_hex;
using oracle::hex;

// Faults by kind, with the first few cases of each spelled out.
class Findings {
public:
  void add(std::string const& kind, std::string const& detail) {
    if (m_count[kind]++ < 3) m_details << "\n[" << kind << "]\n" << detail << '\n';
  }
  bool empty() const { return m_count.empty(); }
  std::string report() const {
    std::ostringstream text;
    for (auto const& [kind, count] : m_count) text << count << " x " << kind << '\n';
    return text.str() + m_details.str();
  }

private:
  std::map<std::string, unsigned> m_count;
  std::ostringstream m_details;
};

std::vector<char> encode(ASN1::AbstractData const& value, bool& ok) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  ok = ASN1::encode(value, &env, std::back_inserter(out));
  return out;
}

bool decode(std::vector<char> const& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

struct Tally {
  unsigned values = 0;
  unsigned octets_compared = 0;
};

// Runs `count` random values of the type through both codecs.
Tally compare_with_erlang(void const* info, char const* type, unsigned count, std::uint32_t seed, Findings& findings) {
  oracle::ErlangCodec erlang;
  Tally tally;
  if (!erlang.failure().empty()) {
    findings.add("Erlang's codec is missing", erlang.failure());
    return tally;
  }
  oracle::RandomValues random(seed);
  for (unsigned n = 0; n < count; ++n) {
    auto made = random.make(info);
    if (!made.value) {
      findings.add("the generator cannot fill the type", type);
      return tally;
    }
    ASN1::AbstractData const& value = *made.value;
    std::string const notation = value.asValueNotation();
    bool encoded = false;
    std::vector<char> const ours = encode(value, encoded);
    std::string const term = oracle::erlang_term(value);
    std::string const case_text = "value " + notation + "\nterm " + term + "\nours   " + hex(ours);
    if (!encoded || term.empty()) {
      findings.add("a generated value does not encode here", case_text);
      continue;
    }

    std::string const answer = erlang.ask(std::string("check ") + type + " " + hex(ours) + " " + term);
    if (!erlang.failure().empty()) {
      findings.add("Erlang's codec failed", erlang.failure() + "\n" + case_text);
      return tally;
    }
    std::istringstream fields(answer);
    std::string status, theirs_hex, verdict;
    fields >> status >> theirs_hex >> verdict;
    std::vector<char> theirs;
    if (status != "ok" || !from_hex(theirs_hex, theirs)) {
      findings.add("Erlang refuses the value", case_text + "\nErlang: " + answer);
      continue;
    }
    ++tally.values;
    std::string const both = case_text + "\nErlang " + theirs_hex;
    if (verdict != "same") findings.add("Erlang decodes our octets to another value", both + "\nErlang: " + answer);

    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(info));
    if (!decode(theirs, *back)) {
      findings.add("Erlang's octets do not decode here", both);
    } else if (*back != value) {
      findings.add("Erlang's octets decode here to another value", both + "\ndecoded " + back->asValueNotation());
    } else {
      bool reencoded = false;
      std::vector<char> const again = encode(*back, reencoded);
      if (!reencoded || again != theirs)
        findings.add("the value decoded from Erlang's octets encodes to other octets", both + "\nagain  " + hex(again));
    }

    if (made.octets_comparable) {
      ++tally.octets_compared;
      if (ours != theirs) findings.add("our octets differ from Erlang's", both);
    }
  }
  std::cout << type << ": " << tally.values << " values both ways, " << tally.octets_compared
            << " of them also octet for octet\n";
  return tally;
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
