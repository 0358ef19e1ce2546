#pragma once
// Scope tracer: "Enter <name>" when the block starts, "Leave <name>" when it ends.

#include <ostream>

namespace Trace {

class Block {
public:
  Block(bool on, char const* name, std::ostream& os) : m_on(on), m_name(name), m_os(&os) {
    if (m_on) *m_os << "Enter " << m_name << '\n';
  }
  ~Block() {
    if (m_on) *m_os << "Leave " << m_name << '\n';
  }
  Block(Block const&) = delete;
  Block& operator=(Block const&) = delete;

private:
  bool m_on;
  char const* m_name;
  std::ostream* m_os;
};

}  // namespace Trace
