#pragma once
// One loop for both rules: random values of an oracle type through our coder and
// Erlang's, both ways, with the faults found grouped by kind.

#include <cstdint>
#include <map>
#include <sstream>
#include <string>

#include "asn1/asn1.h"
#include "tests/asn1/oracle/erlang_codec.h"

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
  unsigned values = 0;
  unsigned octets_compared = 0;
};

struct CrossCheck {
  ASN1::CoderEnv::EncodingRules rule;
  // The value as the term Erlang takes, empty when it cannot be written.
  std::string (*term)(ASN1::AbstractData const&);
  // Whether the octets can differ by design when an extension bit map of the value is
  // not as long as its type's list of additions (PER only).
  bool maps_change_octets;
  // Whether each SEQUENCE's known extensions are all present (RandomValues).
  bool every_extension;
};

// Runs `count` random values of the type through both codecs; `erlang` must be running
// the same rules on the same types.
Tally compare_with_erlang(ErlangCodec& erlang, CrossCheck const& check, void const* info, char const* type,
                          unsigned count, std::uint32_t seed, Findings& findings);

}  // namespace oracle
