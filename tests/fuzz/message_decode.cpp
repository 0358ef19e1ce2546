// Arbitrary octets decoded as an LGCP::Message, as the control server gets a frame, and as
// a MON::Message, as the SNMP agent link does. Whatever decodes is printed in value
// notation (the log lines' printer) and encoded again. The decoder lets numbers outside
// their type's bounds through by design (a slot above 1023, a TERM::MdmCarrier of 11 to 15,
// an ACP::TrunkState of 7), and the encoder refuses them: that refusal is the only one
// allowed. What encodes decodes to an equal value that encodes to the same octets.

#include <cstdint>
#include <sstream>
#include <vector>

#include "schemas/lgcp.h"
#include "schemas/mon.h"
#include "tests/fuzz/coding.h"

namespace {

using fuzz::check;

bool decode(char const* begin, char const* end, ASN1::AbstractData& value) {
  return fuzz::decode(ASN1::CoderEnv::per, begin, end, value);
}

bool encode(ASN1::AbstractData const& value, std::vector<char>& out) {
  return fuzz::encode(ASN1::CoderEnv::per, value, out);
}

// Finds a constrained INTEGER outside its range or an ENUMERATED without extensions above
// its maximum: the numbers the decoder takes and the encoder refuses.
class OutOfBounds : public ASN1::ConstVisitor {
public:
  bool found = false;

protected:
  bool do_visit(ASN1::INTEGER const& v) override {
    if (v.constrained() && !v.isValid()) found = true;
    return true;
  }
  bool do_visit(ASN1::ENUMERATED const& v) override {
    if (!v.extendable() && v.asInt() > v.getMaximum()) found = true;
    return true;
  }
  bool do_visit(ASN1::CHOICE const& v) override { return !v.getSelection() || v.getSelection()->accept(*this); }
  bool do_visit(ASN1::SEQUENCE_OF_Base const& v) override {
    for (ASN1::AbstractData const* element : v) element->accept(*this);
    return true;
  }
  bool visitExtensionRoot(ASN1::SEQUENCE const& s, int index) override { return field(s, index); }
  bool visitKnownExtension(ASN1::SEQUENCE const& s, int index) override { return field(s, index); }

private:
  bool field(ASN1::SEQUENCE const& s, int index) {
    ASN1::AbstractData const* const f = s.getField(static_cast<unsigned>(index));
    return !f || f->accept(*this);
  }
};

template <class Message>
void round_trip(char const* begin, char const* end) {
  Message value;
  if (!decode(begin, end, value)) return;
  std::ostringstream printed;
  printed << value;
  check(printed.good() && !printed.str().empty());

  std::vector<char> octets;
  if (!encode(value, octets)) {
    OutOfBounds bounds;
    value.accept(bounds);
    check(bounds.found);
    return;
  }
  Message again;
  check(decode(octets.data(), octets.data() + octets.size(), again));
  check(again == value);
  std::vector<char> same;
  check(encode(again, same) && same == octets);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  auto const* const begin = reinterpret_cast<char const*>(data);
  round_trip<LGCP::Message>(begin, begin + size);
  round_trip<MON::Message>(begin, begin + size);
  return 0;
}
