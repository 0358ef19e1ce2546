#include "foundation/measure.h"

#include "foundation/clock.h"

void Measure::begin() { m_start = Mux::microseconds(); }

void Measure::end() {
  // Unsigned difference: right across a wrap of the microsecond reading.
  unsigned const elapsed = Mux::microseconds() - m_start;
  if (m_first) {
    m_first = false;
    m_min = m_max = m_last = elapsed;
    m_count = 1;
    return;
  }
  ++m_count;
  if (elapsed < m_min) m_min = elapsed;
  if (elapsed > m_max) m_max = elapsed;
  m_last = elapsed;
}

void Measure::put(std::ostream& os) const {
  os << std::dec << "min=" << m_min << " max=" << m_max << " avg=" << m_last << " counter=" << m_count;
}

std::ostream& operator<<(std::ostream& os, Measure const& m) {
  m.put(os);
  return os;
}
