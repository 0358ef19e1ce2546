#pragma once
// BER decoder (X.690, definite lengths as BEREncoder writes them). It borrows the input
// and never reads or points past its end; every length read from the input is checked
// against what remains before anything is stored or allocated for it. Identifiers are
// matched against the records' tags; the constructed bit is not looked at, and the
// indefinite form reads as length 0.

#include <cstddef>
#include <vector>

#include "asn1/visitor.h"

namespace ASN1 {

class BERDecoder : public Visitor {
public:
  BERDecoder(char const* begin, char const* end, CoderEnv* env = nullptr);

  bool atEnd() const { return m_current >= m_limit; }
  unsigned decodeByte() { return static_cast<unsigned char>(*m_current++); }
  void rollback(char const* position) { m_current = position; }
  char const* position() const { return m_current; }
  // Copies at most what remains; the count copied.
  unsigned decodeBlock(char* destination, unsigned count);
  // One identifier and length; false when the input ends before or inside them.
  bool decodeHeader(unsigned& tag, bool& primitive, unsigned& length);
  // A header whose tag is the value's own, or any tag when an enclosing field or
  // alternative has already matched it; the position is restored on failure.
  bool decodeHeader(AbstractData const& value, unsigned& length);
  // Finds and selects the alternative of the next header; `end` is where it ends.
  bool decodeChoicePreamle(CHOICE& choice, char const*& end);

protected:
  bool do_visit(Null& v) override;
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
  int visitKnownExtension(SEQUENCE& s, int index, int optionalId) override {
    return visitExtensionRoot(s, index, optionalId);
  }
  int visitUnknownExtensions(SEQUENCE& s) override;

private:
  std::size_t remaining() const { return static_cast<std::size_t>(m_limit - m_current); }
  // `length` octets on from the position, or the input's end when fewer remain.
  char const* advanced(std::size_t length) const { return length < remaining() ? m_current + length : m_limit; }
  // Reads a header whose contents must all lie within the input.
  bool decodeContentsHeader(AbstractData const& value, unsigned& length);
  // The header of an open type: the contained encoding's start, or just past a tag that
  // wraps it.
  bool decodeOpenHeader(AbstractData const& value, unsigned& length, char const*& start);

  char const* m_current;
  char const* m_limit;
  std::vector<char const*> m_sequenceEnds;  // contents ends of the SEQUENCEs being read, innermost last
  int m_tagMatched = 0;                      // header checks still to come that take any tag
};

}  // namespace ASN1
