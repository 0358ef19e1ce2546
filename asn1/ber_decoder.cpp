#include "asn1/ber_decoder.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

namespace {

// A tag number above 16 bits matches no record: it is kept as this one, which lies
// outside the tag word's number field and so never equals a record's tag.
constexpr unsigned kTooLargeNumber = 0x10000;

}  // namespace

BERDecoder::BERDecoder(char const* begin, char const* end, CoderEnv* env)
    : Visitor(env), m_current(begin), m_limit(end) {}

unsigned BERDecoder::decodeBlock(char* destination, unsigned count) {
  unsigned const copied = static_cast<unsigned>(std::min<std::size_t>(count, remaining()));
  if (copied) std::memcpy(destination, m_current, copied);
  m_current += copied;
  return copied;
}

bool BERDecoder::decodeHeader(unsigned& tag, bool& primitive, unsigned& length) {
  if (atEnd()) return false;
  unsigned const identifier = decodeByte();
  primitive = !(identifier & 0x20);
  unsigned number = identifier & 0x1F;
  if (number == 0x1F) {
    number = 0;
    unsigned octet = 0;
    do {
      if (atEnd()) return false;
      octet = decodeByte();
      number = std::min(number * 128 + (octet & 0x7F), kTooLargeNumber);
    } while (octet & 0x80);
  }
  tag = ((identifier & 0xC0) << 16) + number;
  if (atEnd()) return false;
  unsigned const first = decodeByte();
  if (first < 0x80) {
    length = first;
    return true;
  }
  // Octets beyond four push the earlier ones out; no octets is the indefinite form,
  // read as length 0.
  length = 0;
  for (unsigned n = first & 0x7F; n > 0; --n) {
    if (atEnd()) return false;
    length = length << 8 | decodeByte();
  }
  return true;
}

bool BERDecoder::decodeHeader(AbstractData const& value, unsigned& length) {
  char const* const start = m_current;
  unsigned tag = 0;
  bool primitive = false;
  if (!decodeHeader(tag, primitive, length)) {
    m_current = start;
    return false;
  }
  // Either way a pending match is used up, so it can never reach a later header.
  if (tag == value.getTag()) {
    m_tagMatched = 0;
    return true;
  }
  if (m_tagMatched > 0) {
    --m_tagMatched;
    return true;
  }
  m_current = start;
  return false;
}

bool BERDecoder::decodeContentsHeader(AbstractData const& value, unsigned& length) {
  return decodeHeader(value, length) && length <= remaining();
}

bool BERDecoder::do_visit(Null& v) {
  unsigned length = 0;
  if (!decodeHeader(v, length)) return false;
  m_current = advanced(length);
  return true;
}

bool BERDecoder::do_visit(BOOLEAN& v) {
  unsigned length = 0;
  if (!decodeHeader(v, length)) return false;
  for (unsigned i = 0; i < length; ++i) {
    if (atEnd()) return false;
    v = decodeByte() != 0;
  }
  return true;
}

namespace {

// Two's complement contents, sign-extended from the first octet into 32 bits (longer
// contents keep their last four octets); false when they are empty or cut short.
bool signed_contents(BERDecoder& decoder, unsigned length, int& out) {
  if (length == 0 || decoder.atEnd()) return false;
  unsigned value = decoder.decodeByte();
  if (value & 0x80) value |= 0xFFFFFF00u;
  for (unsigned i = 1; i < length; ++i) {
    if (decoder.atEnd()) return false;
    value = value << 8 | decoder.decodeByte();
  }
  out = static_cast<int>(value);
  return true;
}

}  // namespace

bool BERDecoder::do_visit(INTEGER& v) {
  unsigned length = 0;
  int value = 0;
  if (!decodeHeader(v, length) || !signed_contents(*this, length, value)) return false;
  v = value;
  return true;
}

// An enumeration's contents are two's complement like an INTEGER's: the encoder writes
// -1 (TERM::RadioStandby's not-use) as FF, and so does every peer.
bool BERDecoder::do_visit(ENUMERATED& v) {
  unsigned length = 0;
  int value = 0;
  if (!decodeHeader(v, length) || !signed_contents(*this, length, value)) return false;
  v.setFromInt(value);
  return true;
}

bool BERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  bool const ok = v.decodeCommon(m_current, length);
  m_current += length;
  return ok;
}

bool BERDecoder::do_visit(OCTET_STRING& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  v.assign(m_current, m_current + length);
  m_current += length;
  return true;
}

bool BERDecoder::do_visit(BIT_STRING& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length) || length == 0) return false;
  char const* const end = m_current + length;
  unsigned const unused = decodeByte();
  std::uint64_t const carried = std::uint64_t{8} * (length - 1);
  if (unused > carried) return false;
  unsigned const bits = static_cast<unsigned>(carried - unused);
  v.resize(bits);
  decodeBlock(v.getData().data(), (bits + 7) / 8);
  v.resize(bits);  // bits past the count stay 0
  m_current = end;
  return true;
}

bool BERDecoder::do_visit(AbstractString& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  v.std::string::assign(m_current, length);
  m_current += length;
  return true;
}

bool BERDecoder::do_visit(BMPString& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  char const* const end = m_current + length;
  v.resize(length / 2);
  for (wchar_t& c : v) {
    unsigned const high = decodeByte();
    c = static_cast<wchar_t>(high << 8 | decodeByte());
  }
  m_current = end;
  return true;
}

bool BERDecoder::do_visit(GeneralizedTime& v) {
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  std::string const text(m_current, length);
  m_current += length;
  v.set(text.c_str());
  return true;
}

bool BERDecoder::decodeChoicePreamle(CHOICE& choice, char const*& end) {
  char const* position = m_current;
  unsigned tag = 0, length = 0;
  bool primitive = false;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (m_tagMatched != 0 || choice.getTag() != 0) {
    // That was the CHOICE's own (explicit) tag; the alternative's header follows.
    m_tagMatched = 0;
    position = m_current;
    if (!decodeHeader(tag, primitive, length)) return false;
  }
  end = advanced(length);
  m_current = position;  // the alternative reads its own header again
  if (!choice.setID(tag & 0x1FFFF, (tag >> 16) & 0xC0)) return false;
  m_tagMatched = choice.getSelectionTag() != 0 ? 1 : 0;
  return true;
}

bool BERDecoder::do_visit(CHOICE& v) {
  char const* end = nullptr;
  if (!decodeChoicePreamle(v, end)) return false;
  if (!v.isUnknownSelection() && !v.getSelection()->accept(*this)) {
    m_tagMatched = 0;
    return false;
  }
  m_current = end;
  return true;
}

bool BERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  v.clear();
  unsigned length = 0;
  if (!decodeContentsHeader(v, length)) return false;
  char const* const end = m_current + length;
  while (m_current < end) {
    AbstractData* const element = v.createElement();
    if (!element) return false;
    char const* const before = m_current;
    // An element that takes no octets would be decoded for ever.
    if (!element->accept(*this) || m_current <= before) {
      delete element;
      m_tagMatched = 0;
      return false;
    }
    v.push_back(element);
  }
  m_current = end;
  return true;
}

bool BERDecoder::decodeOpenHeader(AbstractData const& value, unsigned& length, char const*& start) {
  start = m_current;
  unsigned tag = 0;
  bool primitive = false;
  if (!decodeHeader(tag, primitive, length)) return false;
  if (m_tagMatched > 0 || value.getTag() != 0) {
    // A field's, an alternative's or the type's own tag around the contained encoding.
    m_tagMatched = 0;
    start = m_current;
    return true;
  }
  // The header was the contained value's own: it belongs to the encoding kept.
  std::size_t const whole = static_cast<std::size_t>(m_current - start) + length;
  m_current = start;
  length = static_cast<unsigned>(std::min(whole, remaining()));
  return true;
}

bool BERDecoder::do_visit(OpenData& v) {
  unsigned length = 0;
  char const* start = nullptr;
  if (!decodeOpenHeader(v, length, start)) return false;
  if (!v.has_buf()) v.grab(new std::vector<char>);
  char const* const end = advanced(length);
  v.get_buf().assign(m_current, end);
  m_current = end;
  return true;
}

bool BERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& octets = v.get_buf();
  BERDecoder inner(octets.data(), octets.data() + octets.size(), get_env());
  return v.get_data().accept(inner);
}

bool BERDecoder::do_visit(TypeConstrainedOpenData& v) {
  if (!v.has_data()) return false;
  unsigned length = 0;
  char const* start = nullptr;
  if (!decodeOpenHeader(v, length, start)) return false;
  return v.get_data().accept(*this);
}

int BERDecoder::preVisitExtensionRoots(SEQUENCE& s) {
  unsigned length = 0;
  if (!decodeHeader(s, length)) return Fail;
  m_sequenceEnds.push_back(advanced(length));
  // Only what the octets carry is present, also in a value that held another message.
  SEQUENCE::BitMap& optional = s.optionalMap();
  unsigned const bits = optional.size();
  optional.resize(0);
  optional.resize(bits);
  s.extensionMap().resize(0);
  return ContinueWithExtensions;
}

int BERDecoder::visitExtensionRoot(SEQUENCE& s, int index, int optionalId) {
  bool const optional = optionalId != -1;
  int const absent = optional ? ContinueWithExtensions : Fail;
  if (atEnd()) return absent;
  char const* const end = m_sequenceEnds.back();
  if (end == m_current) return absent;
  if (end < m_current) return Fail;

  char const* const start = m_current;
  unsigned tag = 0, length = 0;
  bool primitive = false;
  if (!decodeHeader(tag, primitive, length)) return Fail;
  m_current = start;
  unsigned const expected = s.getFieldTag(static_cast<unsigned>(index));
  if (expected != 0 && expected != tag) return ContinueWithExtensions;  // taken as absent

  if (optional) s.includeOptionalField(static_cast<unsigned>(optionalId), static_cast<unsigned>(index));
  AbstractData* const field = s.getField(static_cast<unsigned>(index));
  if (!field) return absent;
  if (s.tagMode() != 2) m_tagMatched = 1;
  std::size_t const depth = m_sequenceEnds.size();
  if (field->accept(*this)) return ContinueWithExtensions;
  m_tagMatched = 0;
  m_sequenceEnds.resize(depth);
  if (!optional) return Fail;
  s.removeOptionalField(static_cast<unsigned>(optionalId));
  return expected != 0 ? Fail : ContinueWithExtensions;
}

// Whatever follows the known fields (extensions this record does not know) is skipped.
int BERDecoder::visitUnknownExtensions(SEQUENCE&) {
  m_current = m_sequenceEnds.back();
  m_sequenceEnds.pop_back();
  return Stop;
}

}  // namespace ASN1
