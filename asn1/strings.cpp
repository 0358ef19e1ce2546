#include "asn1/strings.h"

#include <algorithm>
#include <ostream>

#include "asn1/visitor.h"

namespace ASN1 {

namespace {

// The characters First .. First + Count - 1 and a terminating zero.
template <int First, int Count>
struct CodeRange {
  constexpr CodeRange() : chars() {
    for (int i = 0; i < Count; ++i) chars[i] = static_cast<char>(First + i);
  }
  char chars[Count + 1];
};

constexpr CodeRange<32, 95> kVisible;
constexpr CodeRange<0, 128> kIA5;
constexpr CodeRange<0, 256> kGeneral;

constexpr StringInfo string_record(CreateFunction create, unsigned tag, char const* set, unsigned set_size,
                                   unsigned canonical, unsigned unaligned, unsigned aligned) {
  return StringInfo{{{create, tag}, Unconstrained, 0, 4294967295u}, set, set_size, canonical, unaligned, aligned};
}

// Size at least lower and, when `check_upper`, at most upper.
bool size_valid(ConstrainedObject const& c, std::size_t size, bool check_upper) {
  if (size < static_cast<unsigned>(c.getLowerLimit())) return false;
  return !check_upper || size <= c.getUpperLimit();
}

// Octet and bit strings hold the upper bound only for a fixed range, character strings
// unless the range is extensible.
bool octets_upper_holds(ConstrainedObject const& c) { return c.getConstraintType() == FixedConstraint; }
bool characters_upper_holds(ConstrainedObject const& c) { return c.getConstraintType() != ExtendableConstraint; }

}  // namespace

char const* const NumericStringSet = " 0123456789";
char const* const PrintableStringSet = " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
char const* const VisibleStringSet = kVisible.chars;
char const* const IA5StringSet = kIA5.chars;
char const* const GeneralStringSet = kGeneral.chars;

ConstrainedInfo const OCTET_STRING::theInfo{{&OCTET_STRING::create, universal(4)}, Unconstrained, 0, 4294967295u};
ConstrainedInfo const BIT_STRING::theInfo{{&BIT_STRING::create, universal(3)}, Unconstrained, 0, 4294967295u};
StringInfo const NumericString::theInfo =
    string_record(&AbstractString::create, universal(18), " 0123456789", 11, 4, 4, 4);
StringInfo const PrintableString::theInfo = string_record(
    &AbstractString::create, universal(19),
    " '()+,-./0123456789:=?ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 74, 7, 7, 8);
StringInfo const IA5String::theInfo = string_record(&IA5String::create, universal(22), kIA5.chars, 128, 7, 7, 8);
StringInfo const VisibleString::theInfo =
    string_record(&AbstractString::create, universal(26), kVisible.chars, 95, 7, 7, 8);
StringInfo const GeneralString::theInfo =
    string_record(&AbstractString::create, universal(27), kGeneral.chars, 256, 8, 8, 8);
BMPStringInfo const BMPString::theInfo{{{&BMPString::create, universal(30)}, Unconstrained, 0, 4294967295u},
                                       0,
                                       65535,
                                       16,
                                       16};

bool OCTET_STRING::isStrictlyValid() const { return size_valid(*this, size(), true); }
bool OCTET_STRING::isValid() const { return size_valid(*this, size(), octets_upper_holds(*this)); }

int OCTET_STRING::do_compare(AbstractData const& other) const {
  auto const& o = static_cast<OCTET_STRING const&>(other);
  auto const* a = reinterpret_cast<unsigned char const*>(data());
  auto const* b = reinterpret_cast<unsigned char const*>(o.data());
  return lexicographic_compare_bytes(a, a + size(), b, b + o.size());
}

AbstractData* OCTET_STRING::do_clone() const {
  OCTET_STRING* copy = create_same<OCTET_STRING>();
  copy->std::vector<char>::operator=(*this);
  return copy;
}

bool OCTET_STRING::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool OCTET_STRING::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

void BIT_STRING::resize(unsigned bits) {
  m_octets.resize((std::size_t(bits) + 7) / 8, 0);
  m_bits = bits;
  // Bits past the count stay 0, so that comparisons over whole octets agree.
  if (bits & 7) m_octets.back() = static_cast<char>(m_octets.back() & (0xFF00 >> (bits & 7)));
}

void BIT_STRING::set(unsigned i, bool on) {
  if (i >= m_bits) return;
  char const mask = static_cast<char>(0x80 >> (i & 7));
  m_octets[i >> 3] = static_cast<char>(on ? m_octets[i >> 3] | mask : m_octets[i >> 3] & ~mask);
}

bool BIT_STRING::isStrictlyValid() const { return size_valid(*this, m_bits, true); }
bool BIT_STRING::isValid() const { return size_valid(*this, m_bits, octets_upper_holds(*this)); }

int BIT_STRING::do_compare(AbstractData const& other) const {
  auto const& o = static_cast<BIT_STRING const&>(other);
  std::size_t const n = std::min(m_octets.size(), o.m_octets.size());
  for (std::size_t i = 0; i < n; ++i) {
    int const a = static_cast<unsigned char>(m_octets[i]);
    int const b = static_cast<unsigned char>(o.m_octets[i]);
    if (a != b) return a - b;
  }
  return static_cast<int>(m_bits - o.m_bits);
}

AbstractData* BIT_STRING::do_clone() const {
  BIT_STRING* copy = create_same<BIT_STRING>();
  copy->m_bits = m_bits;
  copy->m_octets = m_octets;
  return copy;
}

bool BIT_STRING::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool BIT_STRING::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

int AbstractString::find_first_invalid() const {
  char const* const set = getCharacterSet();
  unsigned const set_size = getCharacterSetSize();
  if (!set || set_size == 0) return -1;
  for (std::size_t i = 0; i < size(); ++i) {
    char const c = (*this)[i];
    if (!std::binary_search(set, set + set_size, c,
                            [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); }))
      return static_cast<int>(i);
  }
  return -1;
}

bool AbstractString::isStrictlyValid() const { return size_valid(*this, size(), true) && find_first_invalid() < 0; }
bool AbstractString::isValid() const {
  return size_valid(*this, size(), characters_upper_holds(*this)) && find_first_invalid() < 0;
}

int AbstractString::do_compare(AbstractData const& other) const {
  return std::string::compare(static_cast<AbstractString const&>(other));
}

AbstractData* AbstractString::do_clone() const {
  AbstractString* copy = create_same<AbstractString>();
  copy->std::string::assign(*this);
  return copy;
}

bool AbstractString::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool AbstractString::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

std::ostream& operator<<(std::ostream& os, AbstractString const& s) {
  return os << static_cast<std::string const&>(s);
}

BMPString::size_type BMPString::first_illegal_at() const {
  for (size_type i = 0; i < size(); ++i)
    if (!legalCharacter((*this)[i])) return i;
  return size();
}

bool BMPString::isStrictlyValid() const { return size_valid(*this, size(), true) && first_illegal_at() == size(); }
bool BMPString::isValid() const {
  return size_valid(*this, size(), characters_upper_holds(*this)) && first_illegal_at() == size();
}

int BMPString::do_compare(AbstractData const& other) const {
  return std::wstring::compare(static_cast<BMPString const&>(other));
}

AbstractData* BMPString::do_clone() const {
  BMPString* copy = create_same<BMPString>();
  copy->std::wstring::assign(*this);
  return copy;
}

bool BMPString::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool BMPString::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
