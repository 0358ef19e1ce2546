#include "asn1/visitor.h"

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

bool Visitor::do_visit(IntegerWithNamedNumber& v) { return visit(static_cast<INTEGER&>(v)); }

bool Visitor::visit(SEQUENCE& s) {
  SequenceInfo const& r = s.sequence_info();
  int const roots = preVisitExtensionRoots(s);
  if (roots == Fail) return false;
  if (roots == Stop) return true;
  int last_optional = -1;
  for (unsigned i = 0; i < r.root_count; ++i) {
    int const id = r.field_ids[i];
    int const result = visitExtensionRoot(s, static_cast<int>(i), id);
    if (result == Fail) return false;
    if (result == Stop) return true;
    if (id != -1) last_optional = id;
  }
  if (roots != ContinueWithExtensions) return true;
  int const extensions = preVisitExtensions(s);
  if (extensions != ContinueWithExtensions) return extensions != Fail;
  // Extension numbers continue from the last root OPTIONAL field's.
  for (unsigned i = r.root_count; i < s.fieldCount(); ++i) {
    int const result = visitKnownExtension(s, static_cast<int>(i), ++last_optional);
    if (result != ContinueWithExtensions) return result != Fail;
  }
  return visitUnknownExtensions(s) != Fail;
}

bool ConstVisitor::do_visit(Null const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BOOLEAN const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(INTEGER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(IntegerWithNamedNumber const& v) { return do_visit(static_cast<INTEGER const&>(v)); }
bool ConstVisitor::do_visit(ENUMERATED const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OBJECT_IDENTIFIER const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BIT_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OCTET_STRING const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(AbstractString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(BMPString const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(CHOICE const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(OpenData const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(GeneralizedTime const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::do_visit(SEQUENCE_OF_Base const& v) { return do_visit(static_cast<AbstractData const&>(v)); }
bool ConstVisitor::preVisitExtensionRoots(SEQUENCE const& s) { return do_visit(static_cast<AbstractData const&>(s)); }

bool ConstVisitor::visit(SEQUENCE const& s) {
  SequenceInfo const& r = s.sequence_info();
  if (!preVisitExtensionRoots(s)) return false;
  int last_optional = -1;
  for (unsigned i = 0; i < r.root_count; ++i) {
    int const id = r.field_ids[i];
    if (id == -1 || s.hasOptionalField(static_cast<unsigned>(id)))
      if (!visitExtensionRoot(s, static_cast<int>(i))) return false;
    if (id != -1) last_optional = id;
  }
  if (s.extensionMap().size() != 0) {
    if (!preVisitExtensions(s)) return false;
    for (unsigned i = r.root_count; i < s.fieldCount(); ++i) {
      ++last_optional;
      if (s.hasOptionalField(static_cast<unsigned>(last_optional)) && !visitKnownExtension(s, static_cast<int>(i)))
        return false;
    }
  }
  return afterVisitSequence(s);
}

}  // namespace ASN1
