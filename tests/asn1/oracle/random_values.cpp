#include "tests/asn1/oracle/random_values.h"

#include <algorithm>
#include <climits>

namespace oracle {

namespace {

using namespace ASN1;

class Filler : public Visitor {
public:
  Filler(std::mt19937& engine, RandomValues::Limits const& limits)
      : m_engine(engine), m_limits(limits), m_objects(limits.objects), m_characters(limits.characters) {}

  bool octets_comparable() const { return m_comparable; }

protected:
  bool do_visit(Null&) override { return spend(); }
  bool do_visit(BOOLEAN& v) override {
    v = chance(2);
    return spend();
  }

  bool do_visit(INTEGER& v) override {
    spend();
    switch (v.getConstraintType()) {
      case FixedConstraint: v.setValue(in_range(v)); break;
      // Outside the root as often as not; the unconstrained form carries any 32-bit value.
      case ExtendableConstraint: v.setValue(chance(2) ? any_integer() : in_range(v)); break;
      default: v.setValue(any_integer()); break;
    }
    return true;
  }

  bool do_visit(ENUMERATED& v) override {
    spend();
    v.setFromInt(static_cast<int>(below(static_cast<std::uint64_t>(v.getMaximum()) + 1)));
    return true;
  }

  bool do_visit(OCTET_STRING& v) override {
    spend();
    v.resize(length(v));
    for (char& octet : v) octet = static_cast<char>(below(256));
    return true;
  }

  bool do_visit(AbstractString& v) override {
    spend();
    v.resize(length(v));
    // A record without a character set address takes every code of its canonical width.
    std::uint64_t const codes = v.getCharacterSet() ? v.getCharacterSetSize() : 1u << v.getCanonicalSetBits();
    for (char& c : v) {
      std::uint64_t const code = below(codes);
      c = v.getCharacterSet() ? v.getCharacterSet()[code] : static_cast<char>(code);
    }
    return true;
  }

  bool do_visit(CHOICE& v) override {
    spend();
    if (!v.select(static_cast<int>(below(v.choice_info().known_count)))) return false;
    return v.getSelection()->accept(*this);
  }

  bool do_visit(SEQUENCE_OF_Base& v) override {
    spend();
    bool const sized = v.getConstraintType() == FixedConstraint;
    unsigned const count = sized ? between(v.getLowerLimit(), v.getUpperLimit())
                                 : static_cast<unsigned>(offset_up_to(m_limits.elements));
    for (unsigned i = 0; i < count; ++i) {
      if (!sized && m_objects == 0) break;
      v.push_back(v.createElement());
      if (!v.begin()[i]->accept(*this)) return false;
    }
    return true;
  }

  int preVisitExtensionRoots(SEQUENCE& s) override {
    spend();
    return s.extendable() ? ContinueWithExtensions : Continue;
  }

  int visitExtensionRoot(SEQUENCE& s, int index, int optionalId) override {
    if (optionalId != -1) {
      if (!chance(2) || m_objects == 0) return Continue;
      s.includeOptionalField(static_cast<unsigned>(optionalId), static_cast<unsigned>(index));
    }
    return s.makeField(static_cast<unsigned>(index)).accept(*this) ? Continue : Fail;
  }

  int preVisitExtensions(SEQUENCE& s) override {
    unsigned const known = s.sequence_info().extension_count;
    if (known != 0 && m_limits.every_extension) {
      s.extensionMap().resize(known);
      for (unsigned k = 0; k < known; ++k) s.extensionMap().set(k);
      return ContinueWithExtensions;
    }
    if (known == 0 || chance(3) || m_objects == 0) return Stop;
    unsigned last = 0;
    bool any = false;
    std::vector<unsigned> present;
    for (unsigned k = 0; k < known; ++k) {
      if (!chance(2)) continue;
      present.push_back(k);
      last = k;
      any = true;
    }
    // The map as long as the value needs, as the type knows it, or longer: bits past the
    // known extensions are written as 0.
    unsigned size = known;
    switch (below(3)) {
      case 0: size = any ? last + 1 : 0; break;
      case 1: size = known; break;
      default: size = known + between(1, 3); break;
    }
    if (any && size != known) m_comparable = false;
    s.extensionMap().resize(size);
    for (unsigned k : present) s.extensionMap().set(k);
    return ContinueWithExtensions;
  }

  int visitKnownExtension(SEQUENCE& s, int index, int optionalId) override {
    if (!s.hasOptionalField(static_cast<unsigned>(optionalId))) return ContinueWithExtensions;
    return s.makeField(static_cast<unsigned>(index)).accept(*this) ? ContinueWithExtensions : Fail;
  }

  int visitUnknownExtensions(SEQUENCE&) override { return Stop; }

  // Kinds the oracle schema does not use.
  bool do_visit(OBJECT_IDENTIFIER&) override { return false; }
  bool do_visit(BIT_STRING&) override { return false; }
  bool do_visit(BMPString&) override { return false; }
  bool do_visit(OpenData&) override { return false; }
  bool do_revisit(OpenData&) override { return false; }
  bool do_visit(TypeConstrainedOpenData&) override { return false; }
  bool do_visit(GeneralizedTime&) override { return false; }

private:
  // One object more of the value's allowance.
  bool spend() {
    if (m_objects) --m_objects;
    return true;
  }

  std::uint64_t below(std::uint64_t n) { return std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_engine); }
  bool chance(unsigned one_in) { return below(one_in) == 0; }
  unsigned between(unsigned low, unsigned high) { return static_cast<unsigned>(low + below(std::uint64_t{high} - low + 1)); }

  // An offset up to `span` whose bit width is uniform, so that every octet count of the
  // coding appears; now and then a bound, or a power of two or one less, where the
  // octet counts change.
  std::uint64_t offset_up_to(std::uint64_t span) {
    unsigned bits = 0;
    while (bits < 64 && (span >> bits) != 0) ++bits;
    unsigned const width = static_cast<unsigned>(below(bits + 1));
    std::uint64_t const power = width >= 64 ? 0 : std::uint64_t{1} << width;
    switch (below(8)) {
      case 0: return 0;
      case 1: return span;
      case 2: return std::min(power - 1, span);
      case 3: return std::min(power, span);
    }
    return std::min(std::uniform_int_distribution<std::uint64_t>(0, power - 1)(m_engine), span);
  }

  // Within the range; the upper bound reads signed when the lower one is negative.
  int in_range(ConstrainedObject const& c) {
    std::int64_t const lower = c.getLowerLimit();
    std::int64_t const upper =
        lower < 0 ? std::int64_t{static_cast<int>(c.getUpperLimit())} : std::int64_t{c.getUpperLimit()};
    std::int64_t const value = lower + static_cast<std::int64_t>(offset_up_to(static_cast<std::uint64_t>(upper - lower)));
    return static_cast<int>(static_cast<std::uint32_t>(value));
  }

  int any_integer() {
    std::uint32_t const magnitude = static_cast<std::uint32_t>(offset_up_to(0xFFFFFFFFu));
    return static_cast<int>(chance(2) ? 0u - magnitude : magnitude);
  }

  // Within a SIZE constraint; otherwise up to the limit and what the value's characters
  // leave, each bit width alike often (so past the one-octet length form too).
  unsigned length(ConstrainedObject const& c) {
    unsigned n = 0;
    if (c.getConstraintType() == FixedConstraint)
      n = static_cast<unsigned>(c.getLowerLimit() + offset_up_to(c.getUpperLimit() - c.getLowerLimit()));
    else
      n = static_cast<unsigned>(std::min<std::uint64_t>(offset_up_to(m_limits.length), m_characters));
    m_characters -= std::min(n, m_characters);
    return n;
  }

  std::mt19937& m_engine;
  RandomValues::Limits const& m_limits;
  unsigned m_objects;
  unsigned m_characters;
  bool m_comparable = true;
};

}  // namespace

RandomValues::Made RandomValues::make(void const* info) {
  Made made;
  made.value.reset(AbstractData::create(info));
  Filler filler(m_engine, m_limits);
  if (!made.value->accept(filler)) made.value.reset();
  made.octets_comparable = filler.octets_comparable();
  return made;
}

}  // namespace oracle
