// Arbitrary octets into the BER decoder as the oracle schema's top type. Whatever
// decodes and encodes again must decode once more to an equal value that encodes to the
// same octets, also when decoded into a value that held another message before. The
// decoder must neither read past the input nor take a length from it on trust.

#include <cstdint>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"
#include "tests/fuzz/coding.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  // The input in a block of its own, so that a read past its end is caught.
  std::vector<char> const input(data, data + size);
  fuzz::check_round_trip(
      ASN1::CoderEnv::ber, input.data(), input.data() + size, [] { return ASN1::SEQUENCE(&oracle_types::kTop); },
      [](ASN1::AbstractData const& value, std::vector<char> const& octets) {
        fuzz::check(ASN1::getObjectLength(value, ASN1::BEREncoder::ownTag) == octets.size());
      });
  return 0;
}
