#include "foundation/profile.h"

namespace Profile {

Point* mRoot = nullptr;

Point::Point(char const* name) : m_next(mRoot), m_name(name) { mRoot = this; }

Point::~Point() {
  for (Point** link = &mRoot; *link; link = &(*link)->m_next) {
    if (*link == this) {
      *link = m_next;
      break;
    }
  }
}

void Point::put(std::ostream& os) const { os << '[' << m_name << "]: " << m_measure; }

std::ostream& operator<<(std::ostream& os, Point const& p) {
  p.put(os);
  return os;
}

void dump(std::ostream& os) {
  for (Point const* p = mRoot; p; p = p->next()) os << *p << '\n';
}

}  // namespace Profile
