#include "tests/schemas/filler.h"

#include <cstdlib>
#include <cstring>

namespace test_schemas {

bool Filler::do_visit(ASN1::ENUMERATED& v) {
  // The first name's value: its "=n" suffix, or 0.
  ASN1::EnumeratedInfo const& e = v.enumerated();
  int value = 0;
  if (e.name_count > 0) {
    if (char const* equals = std::strchr(e.names[0], '=')) value = std::atoi(equals + 1);
  }
  v.setFromInt(value < 0 ? 0 : value);
  return true;
}

int Filler::visitExtensionRoot(ASN1::SEQUENCE& s, int index, int optional_id) {
  if (optional_id != -1) {
    if (!m_optional) return ContinueWithExtensions;
    s.includeOptionalField(static_cast<unsigned>(optional_id), static_cast<unsigned>(index));
  }
  return s.makeField(static_cast<unsigned>(index)).accept(*this) ? ContinueWithExtensions : Fail;
}

}  // namespace test_schemas
