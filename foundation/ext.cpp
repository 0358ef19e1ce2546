#include "foundation/ext.h"

#include <algorithm>
#include <iomanip>

namespace ext {

namespace {

// Sets the format of a hex dump for one Put. The fill goes back to a space, not to
// what it was: that is what the output around a dump has always been written with.
class HexFormat {
public:
  explicit HexFormat(std::ostream& os) : m_os(os), m_flags(os.flags()) {
    os.setf(std::ios::hex | std::ios::right | std::ios::uppercase,
            std::ios::basefield | std::ios::adjustfield | std::ios::uppercase);
    os.fill('0');
  }
  ~HexFormat() {
    m_os.fill(' ');
    m_os.flags(m_flags);
  }
  HexFormat(HexFormat const&) = delete;
  HexFormat& operator=(HexFormat const&) = delete;

private:
  std::ostream& m_os;
  std::ios::fmtflags m_flags;
};

}  // namespace

void OutBufInHex::Put(std::ostream& os) const {
  HexFormat const format(os);
  for (unsigned char const* p = begin; p != end; ++p) os << std::setw(2) << unsigned{*p} << ' ';
}

void OutUnsignedInHex::Put(std::ostream& os) const {
  HexFormat const format(os);
  os.write("0x", 2);
  os << std::setw(static_cast<int>(width)) << value;
}

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h) {
  h.Put(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h) {
  h.Put(os);
  return os;
}

void Table::row(std::ostream& os, std::string const& text) {
  if (m_column >= m_widths.size()) return;
  m_inrow = true;
  int const width = m_widths[m_column];
  int const used = std::min(static_cast<int>(text.size()), width);
  int const left = (width - used) / 2;
  int const right = (width - used + 1) / 2;
  os << '|' << std::string(static_cast<std::size_t>(std::max(left, 0)), ' ') << text
     << std::string(static_cast<std::size_t>(std::max(right, 0)), ' ');
  if (++m_column == m_widths.size()) {
    os << "|\n";
    m_inrow = false;
  }
}

void Table::finalize(std::ostream& os) {
  if (!m_inrow) return;
  while (m_column < m_widths.size()) row(os, " ");
}

void Table::rule(std::ostream& os, char edge, char fill) {
  finalize(os);
  if (m_widths.empty()) return;
  for (int width : m_widths) os << edge << std::string(static_cast<std::size_t>(std::max(width, 0)), fill);
  os << edge << '\n';
}

void Table::delimeter(std::ostream& os) { rule(os, '+', '-'); }

void Table::gap(std::ostream& os) { rule(os, '|', ' '); }

void Table::Sentry::row() {
  m_table.row(m_os, m_cell.str());
  m_cell.str({});
}

Table::Sentry& nextrow(Table::Sentry& s) {
  s.row();
  return s;
}

Table::Sentry& beginrow(Table::Sentry& s) {
  s.beginrow();
  return s;
}

Table::Sentry& delimeter(Table::Sentry& s) {
  s.delimeter();
  return s;
}

}  // namespace ext
