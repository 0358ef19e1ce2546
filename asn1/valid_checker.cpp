#include "asn1/valid_checker.h"

#include <cstdint>
#include <string>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

bool AbstractData::isValid() const {
  ValidChecker checker;
  return accept(checker);
}

bool AbstractData::isStrictlyValid() const {
  StrictlyValidChecker checker;
  return accept(checker);
}

namespace detail {

namespace {

template <bool Strict, class Kind>
bool holds(Kind const& v) {
  if constexpr (Strict)
    return v.isStrictlyValid();
  else
    return v.isValid();
}

}  // namespace

template <bool Strict>
bool Checker<Strict>::do_visit(INTEGER const& v) {
  return Strict ? v.isStrictValid() : v.isValid();
}

template <bool Strict>
bool Checker<Strict>::do_visit(ENUMERATED const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(OBJECT_IDENTIFIER const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(BIT_STRING const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(OCTET_STRING const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(AbstractString const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(BMPString const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(GeneralizedTime const& v) {
  return holds<Strict>(v);
}

template <bool Strict>
bool Checker<Strict>::do_visit(CHOICE const& v) {
  if (v.currentSelection() < 0 || !v.getSelection()) return false;
  bool const in_root = static_cast<unsigned>(v.currentSelection()) < v.getNumChoices();
  if (!in_root && (Strict || !v.extendable())) return false;
  return v.getSelection()->accept(*this);
}

template <bool Strict>
bool Checker<Strict>::do_visit(OpenData const& v) {
  return v.has_data() ? v.get_data().accept(*this) : v.has_buf();
}

template <bool Strict>
bool Checker<Strict>::do_visit(SEQUENCE_OF_Base const& v) {
  if (!holds<Strict>(v)) return false;
  for (AbstractData const* element : v)
    if (!element->accept(*this)) return false;
  return true;
}

template <bool Strict>
bool Checker<Strict>::visitExtensionRoot(SEQUENCE const& s, int index) {
  AbstractData const* const field = s.getField(static_cast<unsigned>(index));
  return field && field->accept(*this);
}

template class Checker<false>;
template class Checker<true>;

}  // namespace detail

bool InvalidTracer::do_visit(INTEGER const& v) {
  int const lower = v.getLowerLimit();
  unsigned const upper = v.getUpperLimit();
  int const value = v.getValue();
  // Compared and printed signed when the lower limit is negative, unsigned otherwise.
  bool const below = lower < 0 ? value < lower : static_cast<unsigned>(value) < static_cast<unsigned>(lower);
  bool const above = lower < 0 ? std::int64_t{value} > std::int64_t{upper} : static_cast<unsigned>(value) > upper;
  if (!below && (!above || v.getConstraintType() == ExtendableConstraint)) return true;
  m_text << " The INTEGER value ";
  if (lower < 0)
    m_text << value;
  else
    m_text << static_cast<unsigned>(value);
  if (below)
    m_text << " is smaller than lower bound " << lower;
  else
    m_text << " is greater than upper bound " << upper;
  return false;
}

bool InvalidTracer::do_visit(ENUMERATED const& v) {
  if (v.asInt() <= v.getMaximum()) return true;
  m_text << " This ENUMERATED has invalid value " << v.asInt();
  return false;
}

bool InvalidTracer::do_visit(OBJECT_IDENTIFIER const& v) {
  if (v.levels() > 0) return true;
  m_text << " This OBJECT IDENTIFIER is not assigned";
  return false;
}

bool InvalidTracer::size(ConstrainedObject const& v, unsigned size, char const* what) {
  if (size < static_cast<unsigned>(v.getLowerLimit())) {
    m_text << " This " << what << " has size " << size << " smaller than its lower bound " << v.getLowerLimit();
    return false;
  }
  if (v.getConstraintType() == FixedConstraint && size > v.getUpperLimit()) {
    m_text << " This " << what << " has size " << size << " greater than its upper bound " << v.getUpperLimit();
    return false;
  }
  return true;
}

bool InvalidTracer::do_visit(BIT_STRING const& v) { return size(v, v.size(), "BIT STRING"); }
bool InvalidTracer::do_visit(OCTET_STRING const& v) { return size(v, static_cast<unsigned>(v.size()), "OCTET STRING"); }

bool InvalidTracer::do_visit(AbstractString const& v) {
  if (!size(v, static_cast<unsigned>(v.size()), "AbstractString")) return false;
  int const at = v.find_first_invalid();
  if (at < 0) return true;
  m_text << " The character '" << v[static_cast<std::size_t>(at)] << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(BMPString const& v) {
  if (!size(v, static_cast<unsigned>(v.size()), "BMPString")) return false;
  std::size_t const at = v.first_illegal_at();
  if (at == v.size()) return true;
  m_text << " The character '" << static_cast<long>(v[at]) << "' is not valid for the string";
  return false;
}

bool InvalidTracer::do_visit(GeneralizedTime const& v) {
  if (v.isStrictlyValid()) return true;
  m_text << " This GeneralizedTime is not valid";
  return false;
}

bool InvalidTracer::do_visit(CHOICE const& v) {
  if (v.isUnknownSelection()) {
    m_text << " This selection is not understood by this decoder";
    return false;
  }
  if (v.currentSelection() < 0 || !v.getSelection()) {
    m_text << " This CHOICE is not selected";
    return false;
  }
  char const* const name = v.getSelectionName();
  m_text << '.' << (name ? name : "");
  return v.getSelection()->accept(*this);
}

bool InvalidTracer::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (v.has_buf()) return true;
  m_text << " This Open Type does not contain any valid data";
  return false;
}

bool InvalidTracer::part(AbstractData const& value, std::string const& prefix) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  m_text << prefix << tracer.text();
  return false;
}

bool InvalidTracer::do_visit(SEQUENCE_OF_Base const& v) {
  if (!size(v, v.size(), "SEQUENCE OF")) return false;
  for (unsigned i = 0; i < v.size(); ++i) {
    // Appended step by step: g++ 12 sees a false overlap (-Wrestrict) in "[" + ... + "]".
    std::string prefix = "[";
    prefix += std::to_string(i);
    prefix += ']';
    if (!part(*v.begin()[i], prefix)) return false;
  }
  return true;
}

bool InvalidTracer::visitExtensionRoot(SEQUENCE const& s, int index) {
  unsigned const i = static_cast<unsigned>(index);
  std::string const prefix = std::string(".") + s.getFieldName(i);
  AbstractData const* const field = s.getField(i);
  if (!field) {
    m_text << prefix;
    return false;
  }
  return part(*field, prefix);
}

std::ostream& operator<<(std::ostream& os, InvalidTracer const& tracer) { return os << tracer.text(); }

bool trace_invalid(std::ostream& os, char const* title, AbstractData const& value) {
  InvalidTracer tracer;
  if (value.accept(tracer)) return true;
  os << title << tracer << '\n';
  return false;
}

}  // namespace ASN1
