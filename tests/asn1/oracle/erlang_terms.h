#pragma once
// Values as Erlang terms, in the form Erlang's asn1 application
// gives and takes them: a SEQUENCE is a record tuple with asn1_NOVALUE for what is
// absent, a CHOICE {alternative, Value}, a SEQUENCE OF a list, an IA5String a list of
// character codes, an OCTET STRING a binary, an ENUMERATED its number.

#include <functional>
#include <string>

#include "asn1/asn1.h"

namespace oracle {

// The name of the record Erlang makes of a SEQUENCE type, or null for a type it lacks.
using RecordNames = std::function<char const*(ASN1::SequenceInfo const&)>;

// The term text, or an empty string for a value of a kind no schema here uses or of a
// SEQUENCE type without a record name.
std::string erlang_term(ASN1::AbstractData const& value, RecordNames const& names);
// A value of the oracle schema.
std::string erlang_term(ASN1::AbstractData const& value);
// The same for a translation of the oracle schema that keeps enumerations as ENUMERATED:
// their values are the names, as atoms.
std::string erlang_term_with_names(ASN1::AbstractData const& value);
// The record names of the oracle schema.
char const* oracle_record_name(ASN1::SequenceInfo const& info);

}  // namespace oracle
