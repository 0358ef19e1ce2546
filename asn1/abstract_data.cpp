#include "asn1/abstract_data.h"

#include <ostream>
#include <sstream>

#include "asn1/avn_encoder.h"

namespace ASN1 {

std::ios_base::iostate AbstractData::print_on(std::ostream& os) const {
  AVNEncoder encoder(os);
  return accept(encoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

std::string AbstractData::asValueNotation() const {
  std::ostringstream text;
  print_on(text);
  return text.str();
}

int lexicographic_compare_bytes(unsigned char const* begin1, unsigned char const* end1, unsigned char const* begin2,
                                unsigned char const* end2) {
  for (; begin1 != end1 && begin2 != end2; ++begin1, ++begin2)
    if (*begin1 != *begin2) return int(*begin1) - int(*begin2);
  if (begin1 == end1 && begin2 == end2) return 0;
  return begin1 == end1 ? -1 : 1;
}

}  // namespace ASN1
