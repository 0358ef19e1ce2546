#pragma once
// Random values of one type through the project's coder and Erlang's under one rule (aligned
// PER or BER), both ways: Erlang decodes our octets to the value we encoded, we decode
// Erlang's octets of that value to the same value and encode it back to Erlang's octets, and
// our octets are Erlang's wherever both write the same form. The forms below are PER's.
//
// Two forms differ by design. An extensible SEQUENCE's extension bit map is ours as long
// as the value's map, Erlang's as long as the type's list of additions: a value whose map
// is shorter or longer while an extension is present is compared after decoding only.
// A value that takes no bits at all is nothing here and one zero octet in Erlang's
// encoding: it is not compared.
//
// Erlang's own decoder is wrong in one place: for an INTEGER range of one value (such as
// the translation of an ENUMERATED of one name) it reads two bits its encoder never wrote. Where Erlang cannot read back even its own octets,
// and those are ours to the octet, the value is checked by our decoding of Erlang's
// octets alone and counted apart.

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>

#include "asn1/asn1.h"
#include "tests/asn1/oracle/erlang_codec.h"
#include "tests/asn1/oracle/erlang_terms.h"
#include "tests/asn1/oracle/random_values.h"

namespace oracle {

// Faults by kind, with the first few cases of each spelled out.
class Findings {
public:
  void add(std::string const& kind, std::string const& detail);
  bool empty() const { return m_count.empty(); }
  std::string report() const;

private:
  std::map<std::string, unsigned> m_count;
  std::ostringstream m_details;
};

struct Tally {
  unsigned values = 0;           // compared both ways
  unsigned octets_compared = 0;  // of those, also octet for octet
  unsigned zero_bits = 0;        // encoded to no octets here, so not compared
  unsigned unreadable = 0;       // of `values`: Erlang's decoder fails on its own octets
};

// How one coding rule is compared.
struct CrossCheck {
  ASN1::CoderEnv::EncodingRules rule;
  // The value as the term Erlang takes, empty when it cannot be written.
  std::function<std::string(ASN1::AbstractData const&)> term;
  // Whether the octets can differ by design when an extension bit map of the value is
  // not as long as its type's list of additions (PER only).
  bool maps_change_octets;
};

// Aligned PER, with the record names that `names` gives.
CrossCheck per_check(RecordNames names);

// `count` values from `random` of the type whose record is `info` and which Erlang's
// codec knows as `type`, through both codecs under `check`'s rule; `erlang` must be
// running that rule on the same types. Faults go to `findings`.
Tally cross_check(ErlangCodec& erlang, CrossCheck const& check, RandomValues& random, void const* info,
                  std::string const& type, unsigned count, Findings& findings);

}  // namespace oracle
