#include "asn1/accessors.h"

#include <cstdlib>
#include <iostream>

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

}  // namespace ASN1::detail
