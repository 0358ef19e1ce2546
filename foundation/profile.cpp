#include "foundation/profile.h"

#include "foundation/clock.h"

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

void Point::begin() { m_start = Mux::microseconds(); }

void Point::end() {
  // Unsigned difference: right across a wrap of the microsecond reading.
  std::uint32_t const elapsed = Mux::microseconds() - m_start;
  if (m_first) {
    m_first = false;
    m_min = m_max = elapsed;
    m_counter = 1;
  } else {
    ++m_counter;
    if (elapsed < m_min) m_min = elapsed;
    if (elapsed > m_max) m_max = elapsed;
  }
  m_last = elapsed;
}

void Point::put(std::ostream& os) const {
  os << '[' << m_name << "]: min=" << m_min << " max=" << m_max << " avg=" << m_last << " counter=" << m_counter;
}

std::ostream& operator<<(std::ostream& os, Point const& p) {
  p.put(os);
  return os;
}

void dump(std::ostream& os) {
  for (Point const* p = mRoot; p; p = p->next()) os << *p << '\n';
}

}  // namespace Profile
