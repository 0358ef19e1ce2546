#pragma once
// What the decoder fuzz targets share: one decode or encode of a whole value under a
// coding rule, and the round trip every decoded value must make.

#include <iterator>
#include <vector>

#include "asn1/asn1.h"
#include "tests/fuzz/support.h"

namespace fuzz {

inline bool decode(ASN1::CoderEnv::EncodingRules rule, char const* begin, char const* end, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::decode(begin, end, &env, value, true);
}

inline bool encode(ASN1::CoderEnv::EncodingRules rule, ASN1::AbstractData const& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  out.clear();
  return ASN1::encode(value, &env, std::back_inserter(out));
}

// Decodes the input into a fresh value from `make`. What decodes and encodes again
// (`on_encoded` sees the value and its octets) must decode once more to an equal value
// that encodes to the same octets, also when decoded into a value that held another
// message before: first whatever the input less its first octet leaves in it.
template <class Make, class OnEncoded>
void check_round_trip(ASN1::CoderEnv::EncodingRules rule, char const* begin, char const* end, Make make,
                      OnEncoded on_encoded) {
  auto value = make();
  if (!decode(rule, begin, end, value)) return;
  std::vector<char> octets;
  if (!encode(rule, value, octets)) return;
  on_encoded(value, octets);

  auto again = make();
  check(decode(rule, octets.data(), octets.data() + octets.size(), again));
  check(again == value);
  std::vector<char> same;
  check(encode(rule, again, same) && same == octets);

  auto reused = make();
  if (end > begin) decode(rule, begin + 1, end, reused);
  check(decode(rule, octets.data(), octets.data() + octets.size(), reused));
  check(reused == value);
  check(encode(rule, reused, same) && same == octets);
}

}  // namespace fuzz
