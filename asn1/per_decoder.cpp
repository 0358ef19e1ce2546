#include "asn1/per_decoder.h"

#include <algorithm>
#include <bit>
#include <climits>
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

unsigned const MaximumArraySize = 128;
unsigned const MaximumStringSize = 16384;

PERDecoder::PERDecoder(char const* begin, char const* end, CoderEnv* env, bool aligned)
    : Visitor(env), m_position(begin), m_end(end), m_aligned(aligned) {}

unsigned PERDecoder::getBitsLeft() const {
  if (atEnd()) return 0;
  return static_cast<unsigned>(m_end - m_position) * 8 + m_bits_left - 8;
}

void PERDecoder::byteAlign() {
  if (m_bits_left == 8) return;
  m_bits_left = 8;
  ++m_position;
}

void PERDecoder::setPosition(char const* position) {
  m_position = std::min(position, m_end);
  m_bits_left = 8;
}

void PERDecoder::rollback(memento_type const& memento) {
  if (!memento.position) return;
  m_position = std::min(memento.position, m_end);
  m_bits_left = static_cast<unsigned short>(memento.bits);
}

bool PERDecoder::available(unsigned count, unsigned bits) const {
  return static_cast<std::uint64_t>(count) * bits <= getBitsLeft();
}

bool PERDecoder::decodeBitsSpanning(unsigned bits, unsigned& out) {
  if (bits == 0) {
    out = 0;
    return true;
  }
  if (bits > 32 || bits > getBitsLeft()) return false;
  unsigned const used = 8u - m_bits_left;  // bits already read of the current octet
  if (m_end - m_position >= 8) {
    // Away from the end of the input, eight octets are loaded at once.
    std::uint64_t window;
    std::memcpy(&window, m_position, sizeof window);
    if constexpr (std::endian::native == std::endian::little) window = __builtin_bswap64(window);
    out = static_cast<unsigned>((window << used) >> (64 - bits));
    m_position += (used + bits) / 8;
    m_bits_left = static_cast<unsigned short>(8 - (used + bits) % 8);
    return true;
  }
  // Whole octets from an octet boundary: numbers and lengths after alignment.
  if (m_bits_left == 8 && bits % 8 == 0) {
    auto const* const octets = reinterpret_cast<unsigned char const*>(m_position);
    unsigned value = 0;
    for (unsigned i = 0; i < bits / 8; ++i) value = value << 8 | octets[i];
    out = value;
    m_position += bits / 8;
    return true;
  }
  // The field and the bits already read of the current octet span at most five octets,
  // all within the input after the check above: read them as one window.
  unsigned const span = used + bits;
  auto const* const octets = reinterpret_cast<unsigned char const*>(m_position);
  std::uint64_t window = 0;
  for (unsigned i = 0; i < (span + 7) / 8; ++i) window = window << 8 | octets[i];
  window >>= (8 - span % 8) % 8;
  out = static_cast<unsigned>(window & ((std::uint64_t{1} << bits) - 1));
  m_position += span / 8;
  m_bits_left = static_cast<unsigned short>(8 - span % 8);
  return true;
}

bool PERDecoder::decodeBitMap(unsigned char* octets, unsigned bits) {
  if (bits == 0) return true;
  if (bits > getBitsLeft()) return false;
  unsigned value = 0;
  for (unsigned i = 0; i < bits / 8; ++i) {
    decodeMultiBit(8, value);
    octets[i] = static_cast<unsigned char>(value);
  }
  if (unsigned const rest = bits % 8) {
    decodeMultiBit(rest, value);
    octets[bits / 8] = static_cast<unsigned char>(value << (8 - rest));
  }
  return true;
}

bool PERDecoder::decodeAlignedOctets(unsigned count, unsigned& out) {
  byteAlign();
  if (static_cast<std::size_t>(m_end - m_position) < count) return false;
  auto const* const octets = reinterpret_cast<unsigned char const*>(m_position);
  unsigned value = octets[0];
  for (unsigned i = 1; i < count; ++i) value = value << 8 | octets[i];
  out = value;
  m_position += count;
  return true;
}

char const* PERDecoder::takeBlock(unsigned count) {
  if (count) byteAlign();
  if (static_cast<std::size_t>(m_end - m_position) < count) return nullptr;
  char const* const block = m_position;
  m_position += count;
  return block;
}

unsigned PERDecoder::decodeBlock(char* destination, unsigned count) {
  if (count == 0) return 0;
  byteAlign();
  unsigned const copied = static_cast<unsigned>(std::min<std::ptrdiff_t>(count, m_end - m_position));
  if (copied) std::memcpy(destination, m_position, copied);
  m_position += copied;
  return copied;
}

int PERDecoder::decodeUnsigned(unsigned lower, unsigned upper, unsigned& out) {
  if (lower == upper) {
    out = lower;
    return 0;
  }
  unsigned const range = upper - lower + 1;  // 0 stands for 2^32
  unsigned value = 0;
  if (!m_aligned || (range != 0 && range <= 255)) {
    if (!decodeMultiBit(CountBits(range), value)) return -1;
  } else if (range != 0 && range <= 65536) {
    // One octet up to 256 values, else two, from an octet boundary.
    if (!decodeAlignedOctets(range <= 256 ? 1 : 2, value)) return -1;
  } else {
    // More than 16 bits: the count of octets less one, in the bits the most takes, then
    // the octets.
    unsigned const most = (CountBits(range) + 7) / 8;
    unsigned octets = 0;
    if (!decodeMultiBit(CountBits(most), octets) || !decodeAlignedOctets(octets + 1, value)) return -1;
  }
  out = value + lower;
  return 0;
}

int PERDecoder::decodeLength(unsigned lower, unsigned upper, unsigned& out) {
  if (upper < 65536) return decodeUnsigned(lower, upper, out);
  byteAlign();
  if (atEnd()) return -1;
  auto const first = static_cast<unsigned char>(*m_position);
  if (!(first & 0x80)) {
    out = first;
    ++m_position;
    return 0;
  }
  if ((first & 0x40) || m_end - m_position < 2) return -1;  // a fragmented length, or cut short
  out = (first & 0x3Fu) << 8 | static_cast<unsigned char>(m_position[1]);
  m_position += 2;
  return 0;
}

bool PERDecoder::decodeSmallUnsigned(unsigned& out) {
  if (atEnd()) return false;
  if (!decodeSingleBit()) return decodeMultiBit(6, out);
  unsigned octets = 0;
  if (decodeLength(0, kUnconstrained, octets) != 0 || octets > 4) return false;
  byteAlign();
  return decodeMultiBit(8 * octets, out);
}

// A lower bound alone is coded like no constraint, as the encoder writes it.
int PERDecoder::decodeConstrainedLength(ConstrainedObject const& object, unsigned& out) {
  switch (object.getConstraintType()) {
    case ExtendableConstraint:
      if (atEnd()) return -1;
      if (decodeSingleBit()) return decodeLength(0, kUnconstrained, out);
      [[fallthrough]];
    case FixedConstraint:
      return decodeLength(static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit(), out);
    default:
      return decodeLength(0, kUnconstrained, out);
  }
}

bool PERDecoder::fits_short(ConstrainedObject const& object, unsigned bits_per_unit) {
  return object.getConstraintType() != Unconstrained &&
         static_cast<std::uint64_t>(object.getUpperLimit()) * bits_per_unit <= 16;
}

bool PERDecoder::do_visit(BOOLEAN& v) {
  if (atEnd()) return false;
  v = decodeSingleBit();
  return true;
}

bool PERDecoder::do_visit(INTEGER& v) {
  unsigned const type = v.getConstraintType();
  bool unconstrained_form = type == Unconstrained || type == PartiallyConstrained;
  if (type == ExtendableConstraint) {
    if (atEnd()) return false;
    unconstrained_form = decodeSingleBit();
  }
  if (!unconstrained_form) {
    unsigned value = 0;
    if (decodeUnsigned(static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit(), value) != 0) return false;
    v.setValue(static_cast<int>(value));
    return true;
  }
  unsigned octets = 0;
  if (decodeLength(0, kUnconstrained, octets) != 0 || octets > 4) return false;
  if (octets == 0) {
    v.setValue(0);
    return true;
  }
  unsigned value = 0;
  if (!decodeMultiBit(8 * octets, value)) return false;
  // Two's complement, as written; a lower bound alone reads the octets unsigned.
  if (type != PartiallyConstrained && octets < 4 && (value >> (8 * octets - 1)) & 1) value |= ~0u << (8 * octets);
  v.setValue(static_cast<int>(value));
  return true;
}

bool PERDecoder::do_visit(ENUMERATED& v) {
  unsigned value = 0;
  if (v.extendable()) {
    if (atEnd()) return false;
    if (decodeSingleBit()) {
      unsigned count = 0;
      if (!decodeSmallUnsigned(count) || count == 0) return false;
      if (decodeUnsigned(0, count - 1, value) != 0) return false;
      // The value class holds up to INT_MAX, as far as the encoder writes.
      if (value > static_cast<unsigned>(INT_MAX)) return false;
      v.setFromInt(static_cast<int>(value));
      return true;
    }
  }
  if (decodeUnsigned(0, static_cast<unsigned>(v.getMaximum()), value) != 0) return false;
  v.setFromInt(static_cast<int>(value));
  return true;
}

bool PERDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  unsigned count = 0;
  if (decodeLength(0, 255, count) != 0) return false;
  byteAlign();
  if (!available(count, 8)) return false;
  bool const ok = v.decodeCommon(m_position, count);
  m_position += count;
  return ok;
}

bool PERDecoder::do_visit(OCTET_STRING& v) {
  unsigned count = 0;
  if (decodeConstrainedLength(v, count) != 0 || count > MaximumStringSize || !available(count, 8)) return false;
  if (count > 2) {
    char const* const octets = takeBlock(count);
    if (!octets) return false;
    v.assign(octets, octets + count);
    return true;
  }
  v.resize(count);
  unsigned octet = 0;
  for (unsigned i = 0; i < count; ++i) {
    if (!decodeMultiBit(8, octet)) return false;
    v[i] = static_cast<char>(octet);
  }
  return true;
}

bool PERDecoder::do_visit(BIT_STRING& v) {
  unsigned bits = 0;
  if (decodeConstrainedLength(v, bits) != 0 || bits > MaximumStringSize || !available(bits, 1)) return false;
  v.resize(bits);
  if (bits == 0) return true;
  auto* octets = reinterpret_cast<unsigned char*>(v.getData().data());
  if (bits > 16) {
    unsigned const count = (bits + 7) / 8;
    if (decodeBlock(v.getData().data(), count) != count) return false;
    v.resize(bits);  // bits past the count stay 0
    return true;
  }
  return decodeBitMap(octets, bits);
}

bool PERDecoder::do_visit(AbstractString& v) {
  unsigned count = 0;
  if (decodeConstrainedLength(v, count) != 0 || count > MaximumStringSize) return false;
  unsigned const bits = v.getNumBits(m_aligned);
  if (bits == 0 || bits > 32 || !available(count, bits)) return false;
  bool const short_form = fits_short(v, bits);
  if (!short_form && bits == 8) {
    char const* const characters = takeBlock(count);
    if (!characters) {
      v.clear();
      return false;
    }
    v.std::string::assign(characters, count);
    return true;
  }
  v.resize(count);
  if (!short_form) byteAlign();
  unsigned const canonical = v.getCanonicalSetBits();
  bool const own_code = canonical > 4 && canonical <= bits;
  char const* const set = v.getCharacterSet();
  unsigned const set_size = v.getCharacterSetSize();
  for (unsigned i = 0; i < count; ++i) {
    unsigned code = 0;
    if (!decodeMultiBit(bits, code)) return false;
    if (own_code) {
      v[i] = static_cast<char>(code);
    } else {
      if (!set || code >= set_size) return false;
      v[i] = set[code];
    }
  }
  return true;
}

bool PERDecoder::do_visit(BMPString& v) {
  unsigned count = 0;
  if (decodeConstrainedLength(v, count) != 0 || count > MaximumStringSize) return false;
  unsigned const bits = v.getNumBits(m_aligned);
  if (bits == 0 || bits > 32 || !available(count, bits)) return false;
  v.resize(count);
  if (!fits_short(v, bits)) byteAlign();
  for (unsigned i = 0; i < count; ++i) {
    unsigned code = 0;
    if (!decodeMultiBit(bits, code)) return false;
    v[i] = static_cast<wchar_t>(code + v.getFirstChar());
  }
  return true;
}

bool PERDecoder::do_visit(CHOICE& v) {
  unsigned const roots = v.getNumChoices();
  ChoiceInfo const& r = v.choice_info();
  bool const extendable = v.extendable();
  // A single root alternative without extensions takes no bits, also at the end.
  if ((extendable || roots > 1) && atEnd()) return false;
  if (extendable && decodeSingleBit()) {
    unsigned n = 0;
    if (!decodeSmallUnsigned(n)) return false;
    // An extension the record does not know fails the message.
    if (n >= r.known_count - roots) {
      v.setSelection(CHOICE::unknownSelection, nullptr);
      return false;
    }
    if (!v.select(static_cast<int>(roots + n))) return false;
    return decodeOpenType(*v.getSelection());
  }
  unsigned number = 0;
  if (roots > 1 && decodeUnsigned(0, roots - 1, number) != 0) return false;
  if (number >= roots) {
    v.setSelection(CHOICE::unknownSelection, nullptr);
    return false;
  }
  if (!v.select(static_cast<int>(number))) return false;
  return v.getSelection()->accept(*this);
}

bool PERDecoder::do_visit(SEQUENCE_OF_Base& v) {
  unsigned count = 0;
  if (decodeConstrainedLength(v, count) != 0 || count > MaximumArraySize) return false;
  if (v.size() > count) v.erase(v.begin() + count, v.end());
  // Elements are made one at a time as the input yields them.
  for (unsigned i = 0; i < count; ++i) {
    if (i == v.size()) v.push_back(v.createElement());
    if (!v.begin()[i]->accept(*this)) {
      v.erase(v.begin() + i, v.end());
      return false;
    }
  }
  return true;
}

bool PERDecoder::decodeOctets(std::vector<char>& octets) {
  unsigned count = 0;
  if (decodeLength(0, kUnconstrained, count) != 0) return false;
  if (count) byteAlign();
  if (!available(count, 8)) return false;
  octets.assign(m_position, m_position + count);
  m_position += count;
  return true;
}

bool PERDecoder::decodeOpenType(AbstractData& value) {
  unsigned count = 0;
  if (decodeLength(0, kUnconstrained, count) != 0) return false;
  if (count) byteAlign();
  if (!available(count, 8)) return false;
  // The contained value is read from its own octets only.
  PERDecoder inner(m_position, m_position + count, get_env(), m_aligned);
  m_position += count;
  return value.accept(inner);
}

bool PERDecoder::do_visit(OpenData& v) {
  if (!v.has_buf()) v.grab(new std::vector<char>);
  return decodeOctets(v.get_buf());
}

bool PERDecoder::do_revisit(OpenData& v) {
  if (!v.has_buf() || !v.has_data()) return false;
  std::vector<char> const& octets = v.get_buf();
  PERDecoder inner(octets.data(), octets.data() + octets.size(), get_env(), m_aligned);
  return v.get_data().accept(inner);
}

bool PERDecoder::do_visit(TypeConstrainedOpenData& v) {
  if (!v.has_data()) return false;
  return decodeOpenType(v.get_data());
}

bool PERDecoder::do_visit(GeneralizedTime& v) {
  std::vector<char> octets;
  if (!decodeOctets(octets)) return false;
  v.set(std::string(octets.begin(), octets.end()).c_str());
  return true;
}

int PERDecoder::preVisitExtensionRoots(SEQUENCE& s) {
  bool extension = false;
  if (s.extendable()) {
    if (atEnd()) return Fail;
    extension = decodeSingleBit();
  }
  SEQUENCE::BitMap& optional = s.optionalMap();
  if (!decodeBitMap(optional.octets(), optional.size())) return Fail;
  if (extension) return ContinueWithExtensions;
  // A reused value must not keep extensions this encoding does not carry.
  if (s.extensionMap().size() != 0) s.extensionMap().resize(0);
  // Without extensions the root fields are all there is: they are decoded here in one
  // pass, not through the traversal's hook per field, and the traversal stops.
  SequenceInfo const& r = s.sequence_info();
  for (unsigned i = 0; i < r.root_count; ++i)
    if (PERDecoder::visitExtensionRoot(s, static_cast<int>(i), r.field_ids[i]) == Fail) return Fail;
  return Stop;
}

int PERDecoder::visitExtensionRoot(SEQUENCE& s, int index, int optionalId) {
  if (optionalId != -1 && !s.optionalMap()[static_cast<unsigned>(optionalId)]) return ContinueWithExtensions;
  return s.makeField(static_cast<unsigned>(index)).accept(*this) ? ContinueWithExtensions : Fail;
}

int PERDecoder::preVisitExtensions(SEQUENCE& s) {
  unsigned count = 0;
  if (!decodeSmallUnsigned(count) || count >= MaximumArraySize) return Fail;
  SEQUENCE::BitMap& map = s.extensionMap();
  map.resize(count + 1);
  return decodeBitMap(map.octets(), map.size()) ? ContinueWithExtensions : Fail;
}

int PERDecoder::visitKnownExtension(SEQUENCE& s, int index, int optionalId) {
  if (!s.hasOptionalField(static_cast<unsigned>(optionalId))) return ContinueWithExtensions;
  return decodeOpenType(s.makeField(static_cast<unsigned>(index))) ? ContinueWithExtensions : Fail;
}

int PERDecoder::visitUnknownExtensions(SEQUENCE& s) {
  SEQUENCE::BitMap const& map = s.extensionMap();
  for (unsigned k = s.sequence_info().extension_count; k < map.size(); ++k) {
    if (!map[k]) continue;
    unsigned count = 0;
    if (decodeLength(0, kUnconstrained, count) != 0) return Fail;
    if (count) byteAlign();
    if (!available(count, 8)) return Fail;
    m_position += count;
  }
  return Stop;
}

}  // namespace ASN1
