#pragma once
// Erlang's codec over the translation of the message modules that the build generated, and
// the values of those modules as its terms. Shared by the cross-check and the benchmark.

#include <memory>
#include <string>

#include "asn1/asn1.h"
#include "tests/asn1/oracle/erlang_codec.h"

namespace wire_oracle {

// Starts the escript on the translation, with the module erlc compiled when there is one.
std::unique_ptr<oracle::ErlangCodec> start_codec();

// The translation's record name of a SEQUENCE type that the messages reach, or null.
char const* record_name(ASN1::SequenceInfo const& info);

// A value of such a type as the translation's term.
std::string term(ASN1::AbstractData const& value);

}  // namespace wire_oracle
