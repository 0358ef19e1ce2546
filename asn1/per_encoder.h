#pragma once
// Aligned PER encoder (X.691 ALIGNED) with this system's departures: an ENUMERATED is
// coded by its value, the extension bit map keeps the value's length, octet strings of
// one or two octets under a constrained length are not aligned, no fragmentation, 32-bit
// integers. Failure is a false result and the output is then not to be used.

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class ConstrainedObject;

class PEREncoder : public ConstVisitor {
public:
  PEREncoder(std::vector<char>& out, bool aligned = true);

  bool aligned() const { return m_aligned; }
  void byteAlign() { m_bits_left = 8; }
  void encodeSingleBit(bool bit);
  void encodeMultiBit(unsigned value, unsigned bits);
  void encodeByte(unsigned value);
  void encodeBlock(char const* octets, unsigned count);
  void encodeBitMap(unsigned char const* octets, unsigned bits);
  void encodeSmallUnsigned(unsigned value);
  bool encodeLength(unsigned length, unsigned lower, unsigned upper);
  bool encodeUnsigned(unsigned value, unsigned lower, unsigned upper);
  // Writes the extension bit of an extensible constraint; true when `value` goes in the
  // unconstrained form.
  bool encodeConstraint(ConstrainedObject const& object, unsigned value);
  bool encodeConstrainedLength(ConstrainedObject const& object, unsigned length);
  bool encodeAnyType(AbstractData const* value);

  static constexpr unsigned kUnconstrained = 0x7FFFFFFF;

protected:
  bool do_visit(Null const&) override { return true; }
  bool do_visit(BOOLEAN const& v) override;
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
  bool preVisitExtensionRoots(SEQUENCE const& s) override;
  bool visitExtensionRoot(SEQUENCE const& s, int index) override;
  bool preVisitExtensions(SEQUENCE const& s) override;
  bool visitKnownExtension(SEQUENCE const& s, int index) override;

private:
  // Whether a SIZE constraint keeps `bits_per_unit` units under 16 bits in all (then the
  // content is not aligned).
  static bool fits_short(ConstrainedObject const& object, unsigned bits_per_unit);

  std::vector<char>& m_out;
  unsigned short m_bits_left = 8;
  bool m_aligned;
};

}  // namespace ASN1
