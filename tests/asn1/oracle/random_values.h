#pragma once
// Random values of any type the records describe, within every bound the records set, so
// that each one encodes. Lengths and numbers lean towards the edges of their coding forms
// (octet counts, the 128-octet length form, range bounds). ENUMERATED values stay within
// 0..maximum: above it this system's extension form is its own.

#include <cstdint>
#include <memory>
#include <random>

#include "asn1/asn1.h"

namespace oracle {

class RandomValues {
public:
  // What a value may hold where the records set no bound.
  struct Limits {
    unsigned elements = 5;    // of a SEQUENCE OF
    unsigned length = 400;    // octets or characters of a string
    // Objects and characters of a whole value: once spent, optional fields stay absent,
    // lists empty and strings short, so that nested lists do not multiply.
    unsigned objects = 1u << 20;
    unsigned characters = 1u << 24;
    // Each SEQUENCE that has extensions carries all of them, in a map as long as its
    // type's list: Erlang's BER encoder takes no value without them.
    bool every_extension = false;
  };

  explicit RandomValues(std::uint32_t seed) : RandomValues(seed, Limits()) {}
  RandomValues(std::uint32_t seed, bool every_extension) : RandomValues(seed, with_every_extension(every_extension)) {}
  RandomValues(std::uint32_t seed, Limits limits) : m_engine(seed), m_limits(limits) {}

  struct Made {
    std::unique_ptr<ASN1::AbstractData> value;
    // False when an extension bit map of the value is not as long as its type's list of
    // known extensions while one of them is present: Erlang then writes another length.
    bool octets_comparable = true;
  };

  // A new value of the record's type; null when the record holds a kind not generated.
  Made make(void const* info);

private:
  static Limits with_every_extension(bool every) {
    Limits limits;
    limits.every_extension = every;
    return limits;
  }
  std::mt19937 m_engine;
  Limits m_limits;
};

}  // namespace oracle
