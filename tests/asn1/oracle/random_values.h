#pragma once
// Random values of any type the records describe, within every bound the records set, so
// that each one encodes. Lengths and numbers lean towards the edges of their coding forms
// (octet counts, the 128-octet length form, range bounds).

#include <cstdint>
#include <memory>
#include <random>

#include "asn1/asn1.h"

namespace oracle {

class RandomValues {
public:
  // With `every_extension`, each SEQUENCE that has extensions carries all of them, in a
  // map as long as its type's list: Erlang's BER encoder takes no value without them.
  explicit RandomValues(std::uint32_t seed, bool every_extension = false)
      : m_engine(seed), m_every_extension(every_extension) {}

  struct Made {
    std::unique_ptr<ASN1::AbstractData> value;
    // False when an extension bit map of the value is not as long as its type's list of
    // known extensions while one of them is present: Erlang then writes another length.
    bool octets_comparable = true;
  };

  // A new value of the record's type; null when the record holds a kind not generated.
  Made make(void const* info);

private:
  std::mt19937 m_engine;
  bool m_every_extension;
};

}  // namespace oracle
