// The BER coder against Erlang's, on random values of the oracle schema, both ways:
// Erlang decodes our octets to the value we encoded, we decode Erlang's octets of it to
// the same value and encode that back to Erlang's octets, and the octets are the same.
//
// Erlang compiles a translation of OracleTest.asn that keeps the enumerations as
// ENUMERATED with their values: written as INTEGER ranges (what their PER form is)
// their BER identifier would be INTEGER's tag 2 instead of 10.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "tests/asn1/oracle/cross_check.h"
#include "tests/asn1/oracle/erlang_terms.h"
#include "tests/asn1/oracle/oracle_types.h"
#include "tests/asn1/oracle/random_values.h"

namespace {

using namespace oracle_types;
using oracle::Findings;
using oracle::Tally;

std::string enumerated(char const* const* names, unsigned count, bool extensible) {
  std::string text = "ENUMERATED { ";
  for (unsigned i = 0; i < count; ++i) text += std::string(i ? ", " : "") + names[i] + "(" + std::to_string(i) + ")";
  return text + (extensible ? ", ... }" : " }");
}

// The translated schema in a directory of its own (the module's name is its file's), or
// an empty path with why in `findings`.
class BerSchema {
public:
  explicit BerSchema(Findings& findings) {
    std::ifstream in(oracle::oracle_schema());
    std::stringstream text;
    text << in.rdbuf();
    std::string schema = text.str();
    struct Rewrite {
      std::string from, to;
    } const rewrites[] = {
        {"Colour ::= INTEGER (0..4)\n", "Colour ::= " + enumerated(kColourNames, 5, false) + "\n"},
        {"Cause ::= INTEGER (0..12, ...)\n", "Cause ::= " + enumerated(kCauseNames, 13, true) + "\n"},
    };
    for (Rewrite const& r : rewrites) {
      std::size_t const at = schema.find(r.from);
      if (at == std::string::npos) {
        findings.add("the oracle schema changed", "no line \"" + r.from + "\" in " + oracle::oracle_schema());
        return;
      }
      schema.replace(at, r.from.size(), r.to);
    }
    char directory[] = "/tmp/gw-ber-oracle-XXXXXX";
    if (!::mkdtemp(directory)) {
      findings.add("no temporary directory", directory);
      return;
    }
    m_directory = directory;
    m_path = m_directory + "/OracleTest.asn";
    std::ofstream(m_path) << schema;
  }
  ~BerSchema() {
    std::error_code ignored;
    if (!m_directory.empty()) std::filesystem::remove_all(m_directory, ignored);
  }
  std::string const& path() const { return m_path; }

private:
  std::string m_directory;
  std::string m_path;
};

// Erlang's BER encoder takes no value that lacks a known extension of its type (and
// writes a NULL one even when told it is absent): every extension is present.
oracle::CrossCheck const kBer{ASN1::CoderEnv::ber, &oracle::erlang_term_with_names, false};

Tally compare_with_erlang(void const* info, char const* type, unsigned count, std::uint32_t seed, Findings& findings) {
  BerSchema const schema(findings);
  if (schema.path().empty()) return {};
  oracle::ErlangCodec erlang(oracle::ErlangCodec::Rules::ber, schema.path());
  oracle::RandomValues random(seed, true);  // every extension present (above)
  Tally const tally = oracle::cross_check(erlang, kBer, random, info, type, count, findings);
  std::cout << type << ": " << tally.values << " values both ways, " << tally.octets_compared
            << " of them also octet for octet\n";
  return tally;
}

TEST(BerErlangOracle, EveryKindBothWays) {
  Findings findings;
  unsigned const count = 2000;
  Tally const tally = compare_with_erlang(&kTop, "Top", count, 20240612, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
  EXPECT_EQ(tally.octets_compared, count);
}

TEST(BerErlangOracle, MessageSizedValuesBothWays) {
  Findings findings;
  unsigned const count = 1000;
  Tally const tally = compare_with_erlang(&kMessage, "Message", count, 8, findings);
  EXPECT_TRUE(findings.empty()) << findings.report();
  EXPECT_EQ(tally.values, count);
}

// Checks that every value inside agrees with the counter, not just the outermost.
class CountEveryPart : public ASN1::ConstVisitor {
public:
  unsigned parts = 0;
  std::string fault;

protected:
  bool do_visit(ASN1::AbstractData const& v) override { return counted(v); }
  bool do_visit(ASN1::CHOICE const& v) override {
    return counted(v) && (!v.getSelection() || v.getSelection()->accept(*this));
  }
  bool do_visit(ASN1::SEQUENCE_OF_Base const& v) override {
    if (!counted(v)) return false;
    for (ASN1::AbstractData const* element : v)
      if (!element->accept(*this)) return false;
    return true;
  }
  bool preVisitExtensionRoots(ASN1::SEQUENCE const& s) override { return counted(s); }
  bool visitExtensionRoot(ASN1::SEQUENCE const& s, int index) override {
    return s.getField(static_cast<unsigned>(index))->accept(*this);
  }
  bool visitKnownExtension(ASN1::SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }

private:
  bool counted(ASN1::AbstractData const& v) {
    ++parts;
    std::vector<char> out;
    ASN1::BEREncoder encoder(out);
    if (!v.accept(encoder)) return true;  // a CHOICE without selection deep inside
    if (ASN1::getObjectLength(v, ASN1::BEREncoder::ownTag) == out.size()) return true;
    fault = v.asValueNotation() + "\nencodes to " + oracle::hex(out) + "\ncounted " +
            std::to_string(ASN1::getObjectLength(v, ASN1::BEREncoder::ownTag));
    return false;
  }
};

TEST(BerCounter, AgreesWithTheEncoderAtEveryLevel) {
  oracle::RandomValues random(99);
  unsigned parts = 0;
  for (unsigned n = 0; n < 500; ++n) {
    auto made = random.make(&kTop);
    ASSERT_TRUE(made.value);
    CountEveryPart check;
    ASSERT_TRUE(made.value->accept(check)) << check.fault;
    parts += check.parts;
  }
  EXPECT_GT(parts, 10000u);
}

}  // namespace
