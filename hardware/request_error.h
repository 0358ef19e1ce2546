#pragma once
// The end of a failed driver request's line: ` errno="<the system's text>"`, with errno
// as it was when the suffix was made.

#include <ostream>

#include "foundation/fd.h"

namespace Hardware {

struct ErrnoSuffix {
  Errno error;
};

inline std::ostream& operator<<(std::ostream& os, ErrnoSuffix const& suffix) {
  return os << " errno=\"" << suffix.error << '"';
}

}  // namespace Hardware
