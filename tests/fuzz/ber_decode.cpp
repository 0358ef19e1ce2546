// Arbitrary octets into the BER decoder as the oracle schema's top type. Whatever
// decodes and encodes again must decode once more to an equal value that encodes to the
// same octets, also when decoded into a value that held another message before. The
// decoder must neither read past the input nor take a length from it on trust.

#include <cstdint>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"
#include "tests/fuzz/coding.h"

namespace {

using fuzz::check;

bool decode(char const* begin, char const* end, ASN1::AbstractData& value) {
  return fuzz::decode(ASN1::CoderEnv::ber, begin, end, value);
}

bool encode(ASN1::AbstractData const& value, std::vector<char>& out) {
  return fuzz::encode(ASN1::CoderEnv::ber, value, out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  // The input in a block of its own, so that a read past its end is caught.
  std::vector<char> const input(data, data + size);
  char const* const begin = input.data();
  ASN1::SEQUENCE value(&oracle_types::kTop);
  if (!decode(begin, begin + size, value)) return 0;
  std::vector<char> octets;
  if (!encode(value, octets)) return 0;
  check(ASN1::getObjectLength(value, ASN1::BEREncoder::ownTag) == octets.size());

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
