#pragma once
// Named timing points (microseconds) and a dump of all of them.

#include <ostream>

#include "foundation/measure.h"

namespace Profile {

// Usually a function-local static, so it stays listed until the process exits. One
// point measures one stretch at a time: nesting needs a second point.
class Point {
public:
  explicit Point(char const* name);
  ~Point();
  Point(Point const&) = delete;
  Point& operator=(Point const&) = delete;

  void begin() { m_measure.begin(); }
  void end() { m_measure.end(); }
  // "[name]: min=.. max=.. avg=.. counter=..", avg being the last figure (no sum kept).
  void put(std::ostream& os) const;

  Point* next() const { return m_next; }

private:
  Point* m_next;
  char const* m_name;
  Measure m_measure;
};

// Every live point, newest first.
extern Point* mRoot;

std::ostream& operator<<(std::ostream& os, Point const& p);
void dump(std::ostream& os);

}  // namespace Profile
