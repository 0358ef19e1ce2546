#include "foundation/version.h"

// The architecture names the board's processor whatever host the build ran on.
constinit Version const Version::current(Version::snapshot, 0, "", VersionStamp::build_user,
                                         VersionStamp::build_date, VersionStamp::build_tag, "ppc");

void Version::put(std::ostream& os) const { os << m_tag; }

char const* version_string(Version::Type type) {
  switch (type) {
    case Version::snapshot: return "snapshot";
    case Version::test: return "test";
    case Version::release: return "release";
    case Version::unit_test: return "unit-test";
  }
  return "unknown";
}

char const* version_suffix(Version::Type type) {
  switch (type) {
    case Version::snapshot: return "S";
    case Version::test:
    case Version::unit_test: return "T";
    case Version::release: return "R";
  }
  return "U";
}

std::ostream& operator<<(std::ostream& os, Version const& v) {
  v.put(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, Version::Type type) { return os << version_string(type); }
