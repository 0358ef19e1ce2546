#include "hardware/dtmf.h"

namespace Dtmf {

char const strRep[NumTones + 1] = "0123456789*#ABCD";
std::uint16_t const freq1[NumTones] = {941, 697, 697, 697, 770, 770, 770, 852,
                                       852, 852, 941, 941, 697, 770, 852, 941};
std::uint16_t const freq2[NumTones] = {1336, 1209, 1336, 1477, 1209, 1336, 1477, 1209,
                                       1336, 1477, 1209, 1477, 1633, 1633, 1633, 1633};

TonesValidator tonesValidator = [] {
  TonesValidator tones;
  for (unsigned i = 0; i < NumTones; ++i) tones.insert({strRep[i], {freq1[i], freq2[i]}});
  return tones;
}();

}  // namespace Dtmf
