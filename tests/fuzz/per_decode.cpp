// Arbitrary octets into the aligned PER decoder as the oracle schema's top type. Whatever
// decodes and encodes again (the decoder is lenient on bounds, so the encoder may refuse)
// must decode once more to an equal value that encodes to the same octets, also when
// decoded into a value that held another message before.

#include <cstdint>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"
#include "tests/fuzz/coding.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  auto const* const begin = reinterpret_cast<char const*>(data);
  fuzz::check_round_trip(
      ASN1::CoderEnv::per, begin, begin + size, [] { return ASN1::SEQUENCE(&oracle_types::kTop); },
      [](ASN1::AbstractData const&, std::vector<char> const&) {});
  return 0;
}
