#include "asn1/ber_encoder.h"

#include <cstdint>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

namespace {

// The contents of an INTEGER as a 64-bit number and its octet count. A type with a
// constraint whose lower bound is not negative holds its 32 bits unsigned (as it prints),
// so 4294967295 of INTEGER (0..4294967295) is 00 FF FF FF FF, not FF (which reads -1).
struct IntegerContents {
  std::int64_t value;
  unsigned octets;
};

IntegerContents integer_contents(INTEGER const& v) {
  if (v.getConstraintType() == Unconstrained || v.getLowerLimit() < 0)
    return {v.getValue(), getIntegerDataLength(v.getValue())};
  std::uint32_t const u = static_cast<std::uint32_t>(v.getValue());
  unsigned octets = 1;
  while (octets < 5 && u >= (std::uint64_t{1} << (8 * octets - 1))) ++octets;
  return {static_cast<std::int64_t>(u), octets};
}

// Octets a base-128 tag number takes after the identifier's first octet.
unsigned tag_number_octets(unsigned number) {
  unsigned octets = 1;
  while (number >>= 7) ++octets;
  return octets;
}

unsigned length_octets(unsigned length) {
  if (length <= 127) return 1;
  unsigned octets = 1;
  while (length >>= 8) ++octets;
  return 1 + octets;
}

unsigned tag_octets(unsigned tag) {
  unsigned const number = tag & 0xFFFF;
  return number <= 30 ? 1 : 1 + tag_number_octets(number);
}

unsigned resolved_tag(AbstractData const& value, unsigned tag) { return tag == BEREncoder::ownTag ? value.getTag() : tag; }

}  // namespace

unsigned getIntegerDataLength(int value) {
  for (int shift : {23, 15, 7}) {
    int const top = value >> shift;  // arithmetic: the nine bits from `shift` up, sign-extended
    if (value >= 0 ? (top & 0x1FF) != 0 : (top & 0x1FF) != 0x1FF) return static_cast<unsigned>(shift + 9) / 8;
  }
  return 1;
}

unsigned getDataLength(AbstractData const& value) {
  DataLengthCounter counter;
  value.accept(counter);
  return counter.getDataLen();
}

unsigned getObjectLength(AbstractData const& value, unsigned tag) {
  DataLengthCounter counter;
  value.accept(counter);
  unsigned const resolved = resolved_tag(value, tag);
  return resolved == 0 ? counter.getDataLen() : counter.getObjectLen(resolved);
}

unsigned DataLengthCounter::getObjectLen(unsigned tag) const {
  return tag_octets(tag) + length_octets(m_length) + m_length;
}

bool DataLengthCounter::do_visit(INTEGER const& v) { return add(integer_contents(v).octets); }
bool DataLengthCounter::do_visit(ENUMERATED const& v) { return add(getIntegerDataLength(v.asInt())); }

bool DataLengthCounter::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> octets;
  v.encodeCommon(octets);
  return add(static_cast<unsigned>(octets.size()));
}

bool DataLengthCounter::do_visit(BIT_STRING const& v) { return add(1 + (v.size() + 7) / 8); }
bool DataLengthCounter::do_visit(OCTET_STRING const& v) { return add(static_cast<unsigned>(v.size())); }
bool DataLengthCounter::do_visit(AbstractString const& v) { return add(static_cast<unsigned>(v.size())); }
bool DataLengthCounter::do_visit(BMPString const& v) { return add(2 * static_cast<unsigned>(v.size())); }
bool DataLengthCounter::do_visit(GeneralizedTime const& v) { return add(static_cast<unsigned>(v.get().size())); }

bool DataLengthCounter::do_visit(CHOICE const& v) {
  if (v.currentSelection() < 0 || !v.getSelection()) return true;
  return add(getObjectLength(*v.getSelection(), v.getSelectionTag()));
}

// The encoder writes the contained value whole (identifier and length too), or the
// stored octets as they are: so much is counted.
bool DataLengthCounter::do_visit(OpenData const& v) {
  if (v.has_data()) return add(getObjectLength(v.get_data(), BEREncoder::ownTag));
  if (v.has_buf()) return add(static_cast<unsigned>(v.get_buf().size()));
  return true;
}

bool DataLengthCounter::do_visit(SEQUENCE_OF_Base const& v) {
  for (AbstractData const* element : v) add(getObjectLength(*element, BEREncoder::ownTag));
  return true;
}

bool DataLengthCounter::visitExtensionRoot(SEQUENCE const& s, int index) {
  AbstractData const* const field = s.getField(static_cast<unsigned>(index));
  if (!field) return false;
  return add(getObjectLength(*field, s.getFieldTag(static_cast<unsigned>(index))));
}

BEREncoder::BEREncoder(std::vector<char>& out) : m_out(out) {
  m_out.clear();
  m_out.reserve(256);
}

void BEREncoder::encodeHeader(AbstractData const& value) {
  unsigned const tag = resolved_tag(value, m_tag);
  unsigned const number = tag & 0xFFFF;
  PrimitiveChecker primitive;
  unsigned identifier = (tag >> 16) & 0xC0;
  if (!value.accept(primitive)) identifier |= 0x20;
  if (number <= 30) {
    encodeByte(identifier | number);
  } else {
    encodeByte(identifier | 0x1F);
    for (unsigned i = tag_number_octets(number); i-- > 0;) encodeByte(((number >> (7 * i)) & 0x7F) | (i ? 0x80 : 0));
  }
  unsigned const length = getDataLength(value);
  if (length <= 127) {
    encodeByte(length);
  } else {
    unsigned const octets = length_octets(length) - 1;
    encodeByte(0x80 | octets);
    for (unsigned i = octets; i-- > 0;) encodeByte(length >> (8 * i));
  }
}

void BEREncoder::headerIfTagged(AbstractData const& value) {
  if (resolved_tag(value, m_tag) != 0) encodeHeader(value);
  m_tag = ownTag;
}

bool BEREncoder::do_visit(Null const& v) {
  headerIfTagged(v);
  return true;
}

bool BEREncoder::do_visit(BOOLEAN const& v) {
  headerIfTagged(v);
  encodeByte(v ? 0xFF : 0x00);
  return true;
}

bool BEREncoder::do_visit(INTEGER const& v) {
  headerIfTagged(v);
  IntegerContents const contents = integer_contents(v);
  for (unsigned i = contents.octets; i-- > 0;) encodeByte(static_cast<unsigned>(contents.value >> (8 * i)));
  return true;
}

bool BEREncoder::do_visit(ENUMERATED const& v) {
  headerIfTagged(v);
  int const value = v.asInt();
  for (unsigned i = getIntegerDataLength(value); i-- > 0;) encodeByte(static_cast<unsigned>(value) >> (8 * i));
  return true;
}

bool BEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  headerIfTagged(v);
  std::vector<char> octets;
  v.encodeCommon(octets);
  encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
  return true;
}

bool BEREncoder::do_visit(BIT_STRING const& v) {
  headerIfTagged(v);
  encodeByte((8 - v.size() % 8) % 8);  // unused bits of the last octet
  encodeBlock(v.getData().data(), (v.size() + 7) / 8);
  return true;
}

bool BEREncoder::do_visit(OCTET_STRING const& v) {
  headerIfTagged(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(AbstractString const& v) {
  headerIfTagged(v);
  encodeBlock(v.data(), static_cast<unsigned>(v.size()));
  return true;
}

bool BEREncoder::do_visit(BMPString const& v) {
  headerIfTagged(v);
  for (wchar_t c : v) {
    encodeByte(static_cast<unsigned>(c) >> 8);
    encodeByte(static_cast<unsigned>(c));
  }
  return true;
}

bool BEREncoder::do_visit(GeneralizedTime const& v) {
  headerIfTagged(v);
  std::string const text = v.get();
  encodeBlock(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool BEREncoder::do_visit(CHOICE const& v) {
  if (v.currentSelection() < 0 || !v.getSelection()) return false;
  headerIfTagged(v);  // an explicit tag around the alternative
  m_tag = v.getSelectionTag();
  return v.getSelection()->accept(*this);
}

bool BEREncoder::do_visit(OpenData const& v) {
  if (v.isEmpty()) return false;
  headerIfTagged(v);
  if (v.has_data()) return v.get_data().accept(*this);
  encodeBlock(v.get_buf().data(), static_cast<unsigned>(v.get_buf().size()));
  return true;
}

bool BEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  headerIfTagged(v);
  for (AbstractData const* element : v) {
    m_tag = ownTag;
    if (!element->accept(*this)) return false;
  }
  return true;
}

bool BEREncoder::preVisitExtensionRoots(SEQUENCE const& s) {
  headerIfTagged(s);
  return true;
}

// Root fields and known extensions alike, each under its field tag; extensions carry no
// marker of their own.
bool BEREncoder::visitExtensionRoot(SEQUENCE const& s, int index) {
  AbstractData const* const field = s.getField(static_cast<unsigned>(index));
  if (!field) return false;
  m_tag = s.getFieldTag(static_cast<unsigned>(index));
  return field->accept(*this);
}

}  // namespace ASN1
