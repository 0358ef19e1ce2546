#pragma once
// How the models of the board-control devices read the daemon's records and write their
// fields into the request log.

#include <cstdio>
#include <cstring>
#include <string>

namespace BoardSim {

// Records are copied, not cast: the daemon's pointer need not be aligned for them.
template <class Record>
Record record_at(void const* arg) {
  Record record;
  std::memcpy(&record, arg, sizeof record);
  return record;
}

// "0x" and at least two lowercase hex digits.
inline std::string byte_text(unsigned byte) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", byte);
  return text;
}

}  // namespace BoardSim
