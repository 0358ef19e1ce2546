#pragma once
// Reads a value from ASN.1 value notation in the layout AVNEncoder prints, so that what
// the printer writes reads back: words end at white space, "," or "}", an ENUMERATED may
// be a number, and the escapes of printed character strings are undone. Field names
// must come in the type's field order; absent OPTIONAL fields are left out.

#include <istream>
#include <string>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// True unless failbit or badbit is set: the end of the input alone is success.
inline bool input_success(std::istream& is) { return !(is.rdstate() & (std::ios_base::failbit | std::ios_base::badbit)); }

// A double-quoted string; "\xHH", two backslashes and a backslash before a double quote
// stand for one character each.
bool get_string(std::istream& is, std::string& text);
// The position of the first of `count` names equal to `name`.
bool get_id(char const* const* names, unsigned count, std::string const& name, int& index);
// A literal 'digits'B or 'digits'H: its octets, and in `count` its binary or hexadecimal
// digits (spaces and line feeds between them do not count).
bool get_value_from(std::istream& is, std::vector<char>& bytes, unsigned& count);
bool get_from_hstring(std::string& text, std::vector<char>& bytes, unsigned& count);
bool get_from_bstring(std::string& text, std::vector<char>& bytes, unsigned& count);
// Digits in `base` (16 or 2) to octets, the last group padded with "0" digits.
bool get_from_string(std::string& text, std::vector<char>& bytes, unsigned& count, int base);

class AVNDecoder : public Visitor {
public:
  AVNDecoder(std::istream& is, CoderEnv* env = nullptr) : Visitor(env), m_is(is) {}

protected:
  bool do_visit(Null& v) override;
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(IntegerWithNamedNumber& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData&) override { return false; }
  bool do_revisit(OpenData&) override { return false; }
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;
  int preVisitExtensionRoots(SEQUENCE& s) override;
  int visitExtensionRoot(SEQUENCE& s, int index, int optionalId) override;
  int visitKnownExtension(SEQUENCE& s, int index, int optionalId) override {
    return visitExtensionRoot(s, index, optionalId);
  }
  int visitUnknownExtensions(SEQUENCE& s) override;

private:
  std::istream& m_is;
  // Per SEQUENCE being read: the field name read last, "}" once the text has closed it.
  std::vector<std::string> m_names;
};

}  // namespace ASN1
