// Arbitrary octets into the aligned PER decoder as the oracle schema's top type. Whatever
// decodes and encodes again (the decoder is lenient on bounds, so the encoder may refuse)
// must decode once more to an equal value that encodes to the same octets, also when
// decoded into a value that held another message before.

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"

namespace {

void check(bool holds) {
  if (!holds) std::abort();
}

bool decode(char const* begin, char const* end, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(begin, end, &env, value, true);
}

bool encode(ASN1::AbstractData const& value, std::vector<char>& out) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  out.clear();
  return ASN1::encode(value, &env, std::back_inserter(out));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  auto const* const begin = reinterpret_cast<char const*>(data);
  ASN1::SEQUENCE value(&oracle_types::kTop);
  if (!decode(begin, begin + size, value)) return 0;
  std::vector<char> octets;
  if (!encode(value, octets)) return 0;

  ASN1::SEQUENCE again(&oracle_types::kTop);
  check(decode(octets.data(), octets.data() + octets.size(), again));
  check(again == value);
  std::vector<char> same;
  check(encode(again, same) && same == octets);

  // A reused value: first whatever the input less its first octet leaves in it.
  ASN1::SEQUENCE reused(&oracle_types::kTop);
  if (size > 0) decode(begin + 1, begin + size, reused);
  check(decode(octets.data(), octets.data() + octets.size(), reused));
  check(reused == value);
  check(encode(reused, same) && same == octets);
  return 0;
}
