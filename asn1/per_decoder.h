#pragma once
// Aligned PER decoder: reads exactly what PEREncoder writes. It borrows the input and
// never reads past its end; counts read from the input are checked against the input
// left before anything is allocated for them. Bounds of INTEGER and ENUMERATED values
// are not checked here (a value out of range fails when re-encoded).

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

// The decoder's limits: elements of a SEQUENCE OF and bits of an extension bit map, and
// octets, bits or characters of a string.
extern unsigned const MaximumArraySize;
extern unsigned const MaximumStringSize;

class PERDecoder : public Visitor {
public:
  struct memento_type {
    char const* position = nullptr;
    unsigned bits = 8;
  };

  PERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr, bool aligned = true);

  bool aligned() const { return m_aligned; }
  bool atEnd() const { return m_position >= m_end; }
  unsigned getBitsLeft() const;
  void byteAlign();
  void setPosition(char const* position);
  void rollback(memento_type const& memento);
  char const* position() const { return m_position; }

  bool decodeSingleBit() {
    if (atEnd()) return false;
    --m_bits_left;
    bool const bit = (static_cast<unsigned char>(*m_position) >> m_bits_left) & 1;
    if (m_bits_left == 0) {
      m_bits_left = 8;
      ++m_position;
    }
    return bit;
  }
  // Most fields are short and end within the current octet: that case is read here,
  // every other one out of line.
  bool decodeMultiBit(unsigned bits, unsigned& out) {
    if (bits - 1 < m_bits_left && m_position < m_end) {
      unsigned const left = m_bits_left - bits;
      out = (static_cast<unsigned char>(*m_position) >> left) & ((1u << bits) - 1);
      if (left == 0) {
        m_bits_left = 8;
        ++m_position;
      } else {
        m_bits_left = static_cast<unsigned short>(left);
      }
      return true;
    }
    return decodeBitsSpanning(bits, out);
  }
  bool decodeSmallUnsigned(unsigned& out);
  bool decodeBitMap(unsigned char* octets, unsigned bits);
  int decodeLength(unsigned lower, unsigned upper, unsigned& out);
  int decodeUnsigned(unsigned lower, unsigned upper, unsigned& out);
  int decodeConstrainedLength(ConstrainedObject const& object, unsigned& out);
  unsigned decodeBlock(char* destination, unsigned count);

  static constexpr unsigned kUnconstrained = 0x7FFFFFFF;

protected:
  bool do_visit(Null&) override { return true; }
  bool do_visit(BOOLEAN& v) override;
  bool do_visit(INTEGER& v) override;
  bool do_visit(ENUMERATED& v) override;
  bool do_visit(OBJECT_IDENTIFIER& v) override;
  bool do_visit(OCTET_STRING& v) override;
  bool do_visit(BIT_STRING& v) override;
  bool do_visit(AbstractString& v) override;
  bool do_visit(BMPString& v) override;
  bool do_visit(CHOICE& v) override;
  bool do_visit(SEQUENCE_OF_Base& v) override;
  bool do_visit(OpenData& v) override;
  bool do_revisit(OpenData& v) override;
  bool do_visit(TypeConstrainedOpenData& v) override;
  bool do_visit(GeneralizedTime& v) override;
  int preVisitExtensionRoots(SEQUENCE& s) override;
  int visitExtensionRoot(SEQUENCE& s, int index, int optionalId) override;
  int preVisitExtensions(SEQUENCE& s) override;
  int visitKnownExtension(SEQUENCE& s, int index, int optionalId) override;
  int visitUnknownExtensions(SEQUENCE& s) override;

private:
  bool decodeBitsSpanning(unsigned bits, unsigned& out);
  // `count` (1 to 4) whole octets from the next octet boundary, as a big-endian number.
  bool decodeAlignedOctets(unsigned count, unsigned& out);
  // Reads an open type's length and decodes `value` from exactly its octets, leaving the
  // position after them.
  bool decodeOpenType(AbstractData& value);
  bool decodeOctets(std::vector<char>& octets);
  // The next `count` octets from an octet boundary (none needed for none), to be copied
  // once; null when the input ends first.
  char const* takeBlock(unsigned count);
  // Whether `count` units of `bits` each can still be in the input.
  bool available(unsigned count, unsigned bits) const;
  static bool fits_short(ConstrainedObject const& object, unsigned bits_per_unit);

  char const* m_position;
  char const* m_end;
  unsigned short m_bits_left = 8;
  bool m_aligned;
};

}  // namespace ASN1
