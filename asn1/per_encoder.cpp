#include "asn1/per_encoder.h"

#include <algorithm>
#include <cstdint>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

namespace {

// Octets of a value's two's complement with its sign bit.
unsigned signed_octets(int value) {
  if (value == 0) return 1;
  unsigned const magnitude = value > 0 ? static_cast<unsigned>(value) + 1 : 0u - static_cast<unsigned>(value);
  return (CountBits(magnitude) + 1 + 7) / 8;
}

// Whether value lies in lower..upper: signed when the lower bound is negative.
bool within(unsigned value, unsigned lower, unsigned upper) {
  if (static_cast<int>(lower) < 0)
    return static_cast<int>(value) >= static_cast<int>(lower) && static_cast<int>(value) <= static_cast<int>(upper);
  return value >= lower && value <= upper;
}

}  // namespace

PEREncoder::PEREncoder(std::vector<char>& out, bool aligned) : m_out(out), m_aligned(aligned) {
  m_out.clear();
  m_out.reserve(256);
}

void PEREncoder::encodeSingleBit(bool bit) {
  if (m_bits_left == 8) m_out.push_back(0);
  --m_bits_left;
  if (bit) m_out.back() = static_cast<char>(m_out.back() | (1 << m_bits_left));
  if (m_bits_left == 0) m_bits_left = 8;
}

void PEREncoder::encodeMultiBit(unsigned value, unsigned bits) {
  if (bits == 0) return;
  std::uint64_t const field = static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << bits) - 1);
  // First the free bits of the last octet, then whole octets, then the start of a new one.
  if (m_bits_left != 8) {
    unsigned const take = std::min<unsigned>(bits, m_bits_left);
    bits -= take;
    m_bits_left = static_cast<unsigned short>(m_bits_left - take);
    m_out.back() = static_cast<char>(m_out.back() | ((field >> bits) & ((1u << take) - 1)) << m_bits_left);
    if (m_bits_left == 0) m_bits_left = 8;
  }
  while (bits >= 8) {
    bits -= 8;
    m_out.push_back(static_cast<char>(field >> bits));
  }
  if (bits) {
    m_out.push_back(static_cast<char>((field & ((1u << bits) - 1)) << (8 - bits)));
    m_bits_left = static_cast<unsigned short>(8 - bits);
  }
}

void PEREncoder::encodeByte(unsigned value) {
  byteAlign();
  m_out.push_back(static_cast<char>(value));
}

void PEREncoder::encodeBlock(char const* octets, unsigned count) {
  if (count == 0) return;
  byteAlign();
  m_out.insert(m_out.end(), octets, octets + count);
}

void PEREncoder::encodeBitMap(unsigned char const* octets, unsigned bits) {
  for (unsigned i = 0; i < bits / 8; ++i) encodeMultiBit(octets[i], 8);
  if (bits % 8) encodeMultiBit(octets[bits / 8] >> (8 - bits % 8), bits % 8);
}

void PEREncoder::encodeSmallUnsigned(unsigned value) {
  if (value <= 63) {
    encodeSingleBit(false);
    encodeMultiBit(value, 6);
    return;
  }
  encodeSingleBit(true);
  unsigned const octets = value < 0x100 ? 1 : value < 0x10000 ? 2 : value < 0x1000000 ? 3 : 4;
  encodeLength(octets, 0, kUnconstrained);
  byteAlign();
  encodeMultiBit(value, 8 * octets);
}

bool PEREncoder::encodeLength(unsigned length, unsigned lower, unsigned upper) {
  if (length < lower || length > upper) return false;
  if (upper < 65536) return encodeUnsigned(length, lower, upper);
  byteAlign();
  if (length < 128) {
    encodeMultiBit(length, 8);
    return true;
  }
  if (length < 16384) {
    encodeMultiBit(0x8000 | length, 16);
    return true;
  }
  return false;  // fragmentation is not supported
}

bool PEREncoder::encodeUnsigned(unsigned value, unsigned lower, unsigned upper) {
  if (!within(value, lower, upper)) return false;
  if (lower == upper) return true;
  unsigned const range = upper - lower + 1;  // 0 stands for 2^32
  unsigned const offset = value - lower;
  unsigned const bits = CountBits(range);
  if (!m_aligned || (range != 0 && range <= 255)) {
    encodeMultiBit(offset, bits);
    return true;
  }
  if (range == 256) {
    byteAlign();
    encodeMultiBit(offset, 8);
    return true;
  }
  if (range != 0 && range <= 65536) {
    byteAlign();
    encodeMultiBit(offset, 16);
    return true;
  }
  unsigned const octets = offset == 0 ? 1 : (CountBits(offset + 1) + 7) / 8;
  if (!encodeUnsigned(octets, 1, (bits + 7) / 8)) return false;
  byteAlign();
  encodeMultiBit(offset, 8 * octets);
  return true;
}

bool PEREncoder::encodeConstraint(ConstrainedObject const& object, unsigned value) {
  switch (object.getConstraintType()) {
    case ExtendableConstraint: {
      bool const outside = !within(value, static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit());
      encodeSingleBit(outside);
      return outside;
    }
    case FixedConstraint: return false;
    default: return true;
  }
}

bool PEREncoder::encodeConstrainedLength(ConstrainedObject const& object, unsigned length) {
  if (encodeConstraint(object, length)) return encodeLength(length, 0, kUnconstrained);
  return encodeLength(length, static_cast<unsigned>(object.getLowerLimit()), object.getUpperLimit());
}

bool PEREncoder::encodeAnyType(AbstractData const* value) {
  std::vector<char> scratch;
  if (value) {
    PEREncoder inner(scratch, m_aligned);
    if (!value->accept(inner)) return false;
  }
  if (scratch.empty()) scratch.push_back(0);  // an empty encoding still takes one octet
  if (!encodeLength(static_cast<unsigned>(scratch.size()), 0, kUnconstrained)) return false;
  encodeBlock(scratch.data(), static_cast<unsigned>(scratch.size()));
  return true;
}

bool PEREncoder::fits_short(ConstrainedObject const& object, unsigned bits_per_unit) {
  return object.getConstraintType() != Unconstrained &&
         static_cast<std::uint64_t>(object.getUpperLimit()) * bits_per_unit <= 16;
}

bool PEREncoder::do_visit(BOOLEAN const& v) {
  encodeSingleBit(v);
  return true;
}

bool PEREncoder::do_visit(INTEGER const& v) {
  unsigned const value = static_cast<unsigned>(v.getValue());
  if (encodeConstraint(v, value)) {
    unsigned const octets = signed_octets(v.getValue());
    encodeLength(octets, 0, kUnconstrained);
    encodeMultiBit(value, 8 * octets);
    return true;
  }
  return encodeUnsigned(value, static_cast<unsigned>(v.getLowerLimit()), v.getUpperLimit());
}

bool PEREncoder::do_visit(ENUMERATED const& v) {
  int const value = v.asInt();
  if (v.extendable()) {
    bool const beyond = value > v.getMaximum();
    encodeSingleBit(beyond);
    if (beyond) {
      encodeSmallUnsigned(static_cast<unsigned>(value) + 1);
      return encodeUnsigned(static_cast<unsigned>(value), 0, static_cast<unsigned>(value));
    }
  }
  return encodeUnsigned(static_cast<unsigned>(value), 0, static_cast<unsigned>(v.getMaximum()));
}

bool PEREncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  std::vector<char> octets;
  v.encodeCommon(octets);
  if (!encodeLength(static_cast<unsigned>(octets.size()), 0, 255)) return false;
  encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
  return true;
}

bool PEREncoder::do_visit(BIT_STRING const& v) {
  unsigned const bits = v.size();
  if (!encodeConstrainedLength(v, bits)) return false;
  auto const* octets = reinterpret_cast<unsigned char const*>(v.getData().data());
  if (bits <= 16) {
    encodeBitMap(octets, bits);
  } else {
    encodeBlock(v.getData().data(), (bits + 7) / 8);
  }
  return true;
}

bool PEREncoder::do_visit(OCTET_STRING const& v) {
  unsigned const count = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, count)) return false;
  if (count <= 2) {
    for (char octet : v) encodeMultiBit(static_cast<unsigned char>(octet), 8);
  } else {
    encodeBlock(v.data(), count);
  }
  return true;
}

bool PEREncoder::do_visit(AbstractString const& v) {
  unsigned const count = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, count)) return false;
  unsigned const bits = v.getNumBits(m_aligned);
  if (!fits_short(v, bits)) {
    if (bits == 8) {
      encodeBlock(v.data(), count);
      return true;
    }
    byteAlign();
  }
  unsigned const canonical = v.getCanonicalSetBits();
  bool const own_code = canonical > 4 && canonical <= bits;
  char const* const set = v.getCharacterSet();
  unsigned const set_size = v.getCharacterSetSize();
  auto const less = [](char a, char b) { return static_cast<unsigned char>(a) < static_cast<unsigned char>(b); };
  for (char c : v) {
    if (own_code) {
      encodeMultiBit(static_cast<unsigned char>(c), bits);
      continue;
    }
    if (!set) return false;
    char const* const at = std::lower_bound(set, set + set_size, c, less);
    if (at == set + set_size || *at != c) return false;
    encodeMultiBit(static_cast<unsigned>(at - set), bits);
  }
  return true;
}

bool PEREncoder::do_visit(BMPString const& v) {
  unsigned const count = static_cast<unsigned>(v.size());
  if (!encodeConstrainedLength(v, count)) return false;
  unsigned const bits = v.getNumBits(m_aligned);
  if (!fits_short(v, bits)) byteAlign();
  for (wchar_t c : v) {
    if (!v.legalCharacter(c)) return false;
    encodeMultiBit(static_cast<unsigned>(c) - v.getFirstChar(), bits);
  }
  return true;
}

bool PEREncoder::do_visit(CHOICE const& v) {
  int const selection = v.currentSelection();
  if (selection < 0 || !v.getSelection()) return false;
  unsigned const roots = v.getNumChoices();
  if (v.extendable()) {
    bool const extension = static_cast<unsigned>(selection) >= roots;
    encodeSingleBit(extension);
    if (extension) {
      encodeSmallUnsigned(static_cast<unsigned>(selection) - roots);
      return encodeAnyType(v.getSelection());
    }
  }
  if (roots > 1 && !encodeUnsigned(static_cast<unsigned>(selection), 0, roots - 1)) return false;
  if (roots <= 1 && selection != 0) return false;
  return v.getSelection()->accept(*this);
}

bool PEREncoder::do_visit(OpenData const& v) {
  if (!v.has_data() && v.has_buf()) {
    // Octets kept from a decoding go out as they came.
    auto const& octets = v.get_buf();
    if (!encodeLength(static_cast<unsigned>(octets.size()), 0, kUnconstrained)) return false;
    encodeBlock(octets.data(), static_cast<unsigned>(octets.size()));
    return true;
  }
  return encodeAnyType(v.has_data() ? &v.get_data() : nullptr);
}

bool PEREncoder::do_visit(GeneralizedTime const& v) {
  std::string const text = v.get();
  if (!encodeLength(static_cast<unsigned>(text.size()), 0, 4294967295u)) return false;
  encodeBlock(text.data(), static_cast<unsigned>(text.size()));
  return true;
}

bool PEREncoder::do_visit(SEQUENCE_OF_Base const& v) {
  if (!encodeConstrainedLength(v, v.size())) return false;
  return std::all_of(v.begin(), v.end(), [this](AbstractData const* element) { return element->accept(*this); });
}

namespace {
// A known extension is present: bits past the record's known extensions do not count.
bool known_extension_present(SEQUENCE const& s) {
  unsigned const known = std::min(s.extensionMap().size(), s.sequence_info().extension_count);
  for (unsigned k = 0; k < known; ++k)
    if (s.extensionMap()[k]) return true;
  return false;
}
}  // namespace

bool PEREncoder::preVisitExtensionRoots(SEQUENCE const& s) {
  if (s.extendable()) encodeSingleBit(known_extension_present(s));
  encodeBitMap(s.optionalMap().octets(), s.optionalMap().size());
  return true;
}

bool PEREncoder::visitExtensionRoot(SEQUENCE const& s, int index) {
  AbstractData const* const field = s.getField(static_cast<unsigned>(index));
  return field && field->accept(*this);
}

bool PEREncoder::preVisitExtensions(SEQUENCE const& s) {
  if (!s.extendable() || !known_extension_present(s)) return true;
  SEQUENCE::BitMap const& map = s.extensionMap();
  unsigned const known = s.sequence_info().extension_count;
  encodeSmallUnsigned(map.size() - 1);
  // The map keeps the value's length; bits of extensions this type does not know are 0.
  for (unsigned k = 0; k < map.size(); ++k) encodeSingleBit(k < known && map[k]);
  return true;
}

bool PEREncoder::visitKnownExtension(SEQUENCE const& s, int index) {
  if (!s.extendable()) return true;
  return encodeAnyType(s.getField(static_cast<unsigned>(index)));
}

}  // namespace ASN1
