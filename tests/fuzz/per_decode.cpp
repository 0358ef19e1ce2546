// Arbitrary octets into the aligned PER decoder as the oracle schema's top type. Whatever
// decodes and encodes again (the decoder is lenient on bounds, so the encoder may refuse)
// must decode once more to an equal value that encodes to the same octets, also when
// decoded into a value that held another message before.

#include <cstdint>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"
#include "tests/fuzz/coding.h"

namespace {

using fuzz::check;

bool decode(char const* begin, char const* end, ASN1::AbstractData& value) {
  return fuzz::decode(ASN1::CoderEnv::per, begin, end, value);
}

bool encode(ASN1::AbstractData const& value, std::vector<char>& out) {
  return fuzz::encode(ASN1::CoderEnv::per, value, out);
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
