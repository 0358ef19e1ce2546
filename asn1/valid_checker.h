#pragma once
// Tests of a value against its record's constraints: valid (extensions allowed) and
// strictly valid (the root only), and a tracer that explains the first fault as a path
// from the outermost value down to it. The coders do not call them.

#include <ostream>
#include <sstream>

#include "asn1/abstract_data.h"
#include "asn1/visitor.h"

namespace ASN1 {

namespace detail {

// The two checkers differ only in which test each kind takes.
template <bool Strict>
class Checker : public ConstVisitor {
protected:
  bool do_visit(Null const&) override { return true; }
  bool do_visit(BOOLEAN const&) override { return true; }
  bool do_visit(INTEGER const& v) override;
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
  bool visitExtensionRoot(SEQUENCE const& s, int index) override;
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }
};

}  // namespace detail

// Valid: an INTEGER outside an extendable range, a size past an extendable upper limit,
// and an extension alternative or ENUMERATED value of an extendable type still count.
class ValidChecker : public detail::Checker<false> {};
// Strictly valid: every limit holds and no extension alternative is chosen.
class StrictlyValidChecker : public detail::Checker<true> {};

// Collects the explanation of the first fault; every message starts with a space.
class InvalidTracer : public ConstVisitor {
public:
  std::string text() const { return m_text.str(); }

protected:
  bool do_visit(Null const&) override { return true; }
  bool do_visit(BOOLEAN const&) override { return true; }
  bool do_visit(INTEGER const& v) override;
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
  bool visitExtensionRoot(SEQUENCE const& s, int index) override;
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }

private:
  // The size faults of a string or list named `what`.
  bool size(ConstrainedObject const& v, unsigned size, char const* what);
  // Traces `part` with a fresh tracer and keeps its text, after `prefix`, only when it fails.
  bool part(AbstractData const& value, std::string const& prefix);

  std::stringstream m_text;
};

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer);

// Writes nothing and returns true for a valid value; otherwise writes the title, where
// the first fault lies and what it is, and an end of line, and returns false.
bool trace_invalid(std::ostream& os, char const* title, AbstractData const& value);

}  // namespace ASN1
