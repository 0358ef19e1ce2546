#pragma once
// Prints a value as ASN.1 value notation: the text every log line shows of a message.
// Characters of strings that could forge a log line are escaped.

#include <ostream>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class AVNEncoder : public ConstVisitor {
public:
  explicit AVNEncoder(std::ostream& os) : m_os(os) {}

protected:
  bool do_visit(Null const&) override;
  bool do_visit(BOOLEAN const& v) override;
  bool do_visit(INTEGER const& v) override;
  bool do_visit(IntegerWithNamedNumber const& v) override;
  bool do_visit(ENUMERATED const& v) override;
  bool do_visit(OBJECT_IDENTIFIER const& v) override;
  bool do_visit(BIT_STRING const& v) override;
  bool do_visit(OCTET_STRING const& v) override;
  bool do_visit(AbstractString const& v) override;
  bool do_visit(BMPString const& v) override;
  bool do_visit(CHOICE const& v) override;
  bool do_visit(OpenData const& v) override;
  bool do_visit(GeneralizedTime const& v) override;
  bool do_visit(SEQUENCE_OF_Base const& v) override;
  bool preVisitExtensionRoots(SEQUENCE const& s) override;
  bool visitExtensionRoot(SEQUENCE const& s, int index) override;
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }
  bool afterVisitSequence(SEQUENCE const& s) override;

private:
  void indent(int width);
  void quoted(char const* text, std::size_t length);
  void octets(char const* data, std::size_t length);

  std::ostream& m_os;
  int m_indent = 0;
  std::vector<bool> m_printed;  // per SEQUENCE being printed: a field was printed
};

}  // namespace ASN1
