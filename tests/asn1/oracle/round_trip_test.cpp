// Random values of every kind of the oracle schema through the coders of this runtime
// alone: printed and read back, and through BER and back.

#include <gtest/gtest.h>

#include <memory>

#include "tests/asn1/oracle/oracle_types.h"
#include "tests/asn1/oracle/random_values.h"

namespace {

using namespace oracle_types;

void round_trips(void const* info, unsigned count, std::uint32_t seed) {
  oracle::RandomValues random(seed);
  for (unsigned n = 0; n < count; ++n) {
    auto made = random.make(info);
    ASSERT_TRUE(made.value);
    ASN1::AbstractData const& value = *made.value;
    std::string const text = value.asValueNotation();

    std::unique_ptr<ASN1::AbstractData> read(ASN1::AbstractData::create(info));
    ASSERT_TRUE(read->setFromValueNotation(text)) << text;
    ASSERT_EQ(*read, value) << text << "\nread back as\n" << read->asValueNotation();

    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::ber);
    std::vector<char> octets;
    ASSERT_TRUE(ASN1::encode(value, &env, std::back_inserter(octets))) << text;
    std::unique_ptr<ASN1::AbstractData> decoded(ASN1::AbstractData::create(info));
    ASSERT_TRUE(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, *decoded, true)) << text;
    ASSERT_EQ(*decoded, value) << text << "\ndecoded as\n" << decoded->asValueNotation();
  }
}

TEST(OracleRoundTrips, ValueNotationAndBerOfEveryKind) {
  round_trips(&kTop, 1000, 5);
  round_trips(&kMessage, 500, 6);
}

}  // namespace
