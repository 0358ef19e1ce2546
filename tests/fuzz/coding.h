#pragma once
// What the decoder fuzz targets share: one decode or encode of a whole value under a
// coding rule.

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

}  // namespace fuzz
