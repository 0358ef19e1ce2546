#pragma once
// Values of the oracle schema as Erlang terms, in the form Erlang's asn1 application
// gives and takes them: a SEQUENCE is a record tuple with asn1_NOVALUE for what is
// absent, a CHOICE {alternative, Value}, a SEQUENCE OF a list, an IA5String a list of
// character codes, an OCTET STRING a binary, an ENUMERATED its number.

#include <string>

#include "asn1/asn1.h"

namespace oracle {

// The term text, or an empty string for a value of a kind the oracle schema does not use.
std::string erlang_term(ASN1::AbstractData const& value);
// The same for a translation that keeps enumerations as ENUMERATED: their values are the
// names, as atoms.
std::string erlang_term_with_names(ASN1::AbstractData const& value);

}  // namespace oracle
