#pragma once
// BER encoder (X.690, definite lengths only) with its two helpers: the counter that
// gives each header its contents length before the contents are written, and the test
// of whether an encoding is primitive or constructed. The counter and the encoder must
// agree at every nesting level, or every enclosing length is wrong.

#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

// Contents octets of `value` as the shortest two's complement: 1 to 4.
unsigned getIntegerDataLength(int value);
// Contents octets of a value, without its identifier and length.
unsigned getDataLength(AbstractData const& value);
// A whole encoding under `tag`: -1 stands for the value's own tag, and a tag of 0 writes
// no header at all (a CHOICE or open type without a tag of its own).
unsigned getObjectLength(AbstractData const& value, unsigned tag);

class BEREncoder : public ConstVisitor {
public:
  // Empties `out`; octets are appended to it.
  explicit BEREncoder(std::vector<char>& out);

  static constexpr unsigned ownTag = 0xFFFFFFFFu;

  void encodeByte(unsigned value) { m_out.push_back(static_cast<char>(value)); }
  void encodeBlock(char const* octets, unsigned count) { m_out.insert(m_out.end(), octets, octets + count); }
  // Identifier and length of `value` under the pending tag.
  void encodeHeader(AbstractData const& value);

protected:
  bool do_visit(Null const& v) override;
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
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }

private:
  // Writes the header unless the pending tag resolves to 0, and clears the pending tag.
  void headerIfTagged(AbstractData const& value);

  std::vector<char>& m_out;
  unsigned m_tag = ownTag;  // the tag of the next header: ownTag, 0 (none) or a tag word
};

class DataLengthCounter : public ConstVisitor {
public:
  unsigned getDataLen() const { return m_length; }
  // Identifier, length octets and the contents counted so far, under `tag`.
  unsigned getObjectLen(unsigned tag) const;

protected:
  bool do_visit(Null const&) override { return true; }
  bool do_visit(BOOLEAN const&) override { return add(1); }
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
  bool preVisitExtensionRoots(SEQUENCE const&) override { return true; }
  bool visitExtensionRoot(SEQUENCE const& s, int index) override;
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return visitExtensionRoot(s, index); }

private:
  bool add(unsigned octets) {
    m_length += octets;
    return true;
  }

  unsigned m_length = 0;
};

// Whether a value's encoding is primitive: everything but SEQUENCE, SEQUENCE OF, and a
// CHOICE or open type, whose own header (when it has one) wraps a whole inner encoding.
class PrimitiveChecker : public ConstVisitor {
protected:
  bool do_visit(AbstractData const&) override { return true; }
  bool do_visit(CHOICE const&) override { return false; }
  bool do_visit(OpenData const&) override { return false; }
  bool do_visit(SEQUENCE_OF_Base const&) override { return false; }
  bool preVisitExtensionRoots(SEQUENCE const&) override { return false; }
};

}  // namespace ASN1
