#pragma once
// The sixteen DTMF characters and their low- and high-group frequencies (ITU-T Q.23).

#include <cstdint>
#include <map>
#include <utility>

namespace Dtmf {

inline constexpr unsigned NumTones = 16;
extern char const strRep[NumTones + 1];
extern std::uint16_t const freq1[NumTones];
extern std::uint16_t const freq2[NumTones];

// Character to (low, high) frequency pair.
using TonesValidator = std::map<char, std::pair<std::uint16_t, std::uint16_t>>;
// Filled from the tables during static initialisation. Digits reach the tone service
// from the controller already as frequency pairs, so nothing looks them up here.
extern TonesValidator tonesValidator;

}  // namespace Dtmf
