#include "tests/asn1/coding.h"

#include <cstdio>
#include <sstream>

namespace test_coding {

std::vector<char> octets(std::string const& hex) {
  std::vector<char> out;
  std::istringstream in(hex);
  unsigned octet;
  while (in >> std::hex >> octet) out.push_back(static_cast<char>(octet));
  return out;
}

namespace {

std::string encoded(ASN1::AbstractData const& value, ASN1::CoderEnv::EncodingRules rule) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  std::vector<char> out;
  if (!ASN1::encode(value, &env, std::back_inserter(out))) return "fail";
  std::string text;
  char digits[4];
  for (char c : out) {
    if (!text.empty()) text += ' ';
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
    text += digits;
  }
  return text;
}

bool decoded(std::string const& hex, ASN1::AbstractData& value, ASN1::CoderEnv::EncodingRules rule) {
  std::vector<char> const in = octets(hex);
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::decode(in.data(), in.data() + in.size(), &env, value, true);
}

}  // namespace

std::string per(ASN1::AbstractData const& value) { return encoded(value, ASN1::CoderEnv::per); }
std::string ber(ASN1::AbstractData const& value) { return encoded(value, ASN1::CoderEnv::ber); }

bool from_per(std::string const& hex, ASN1::AbstractData& value) { return decoded(hex, value, ASN1::CoderEnv::per); }
bool from_ber(std::string const& hex, ASN1::AbstractData& value) { return decoded(hex, value, ASN1::CoderEnv::ber); }

}  // namespace test_coding
