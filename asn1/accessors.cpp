#include "asn1/accessors.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1::detail {

#ifdef NDEBUG
bool abort_on_absent_access = false;
#else
bool abort_on_absent_access = true;
#endif

void absent_access(char const* type, char const* field) {
  std::cerr << "asn1: access to absent field " << type << '.' << field << std::endl;
  if (abort_on_absent_access) std::abort();
}

AbstractData& keep(AbstractData* value) {
  // Never destroyed: static objects may still hold what was handed out while they go.
  static auto* const kept = new std::vector<std::unique_ptr<AbstractData>>;
  kept->emplace_back(value);
  return *value;
}

}  // namespace ASN1::detail
