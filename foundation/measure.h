#pragma once
// Duration statistics in microseconds of the loop clock: minimum, maximum, the most
// recent sample and the number of samples.

#include <ostream>

class Measure {
public:
  constexpr Measure() = default;

  void begin();
  void end();
  void put(std::ostream& os) const;

  unsigned min() const { return m_min; }
  unsigned max() const { return m_max; }
  unsigned last() const { return m_last; }
  unsigned count() const { return m_count; }

private:
  unsigned m_min = 0;
  unsigned m_max = 0;
  unsigned m_last = 0;
  bool m_first = true;
  unsigned m_start = 0;
  unsigned m_count = 0;
};

std::ostream& operator<<(std::ostream& os, Measure const& m);
