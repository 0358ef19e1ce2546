#pragma once
// Encoding and decoding helpers of the ASN.1 tests, in hexadecimal text.

#include <string>
#include <vector>

#include "asn1/asn1.h"

namespace test_coding {

// "40 01 00" for those three octets; "fail" when the value does not encode.
std::string per(ASN1::AbstractData const& value);
std::vector<char> octets(std::string const& hex);
// Decodes the octets written in hex into `value`.
bool from_per(std::string const& hex, ASN1::AbstractData& value);
// The same with the BER rules.
std::string ber(ASN1::AbstractData const& value);
bool from_ber(std::string const& hex, ASN1::AbstractData& value);

}  // namespace test_coding
