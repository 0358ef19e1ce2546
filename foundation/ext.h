#pragma once
// Stream helpers that log lines are written with: object prefixes, hex dumps, quoting
// and the text table of the status dumps. Each holds only what it prints.

#include <concepts>
#include <cstdint>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

namespace ext {

template <class T>
struct OutObjHeader {
  T const* obj;
  void Put(std::ostream& os) const { obj->PutHeader(os); }
};

template <class T>
struct OutShortInfo {
  T const* obj;
  void Put(std::ostream& os) const { obj->PutShortInfo(os); }
};

template <class T>
struct OutQuoted {
  T const* value;
  void Put(std::ostream& os) const { os << '"' << *value << '"'; }
};

// Each byte as two upper-case digits and a space, the last one included.
struct OutBufInHex {
  unsigned char const* begin;
  unsigned char const* end;
  void Put(std::ostream& os) const;
};

// "0x" and at least width upper-case digits.
struct OutUnsignedInHex {
  std::uint32_t value;
  unsigned width;
  void Put(std::ostream& os) const;
};

// The object's log prefix (its PutHeader), e.g. `std::cerr << ext::header(this) << ...`.
template <class T>
OutObjHeader<T> header(T const* obj) { return {obj}; }

template <class T>
OutShortInfo<T> shortinfo(T const* obj) { return {obj}; }

template <class T>
OutQuoted<T> quoted(T const& value) { return {&value}; }

inline OutBufInHex hex(char const* p, unsigned len) {
  auto const* b = reinterpret_cast<unsigned char const*>(p);
  return {b, b + len};
}

inline OutBufInHex hex(unsigned char const* begin, unsigned char const* end) { return {begin, end}; }

inline OutUnsignedInHex hex(unsigned value, unsigned width) { return {value, width}; }

template <class T>
std::ostream& operator<<(std::ostream& os, OutObjHeader<T> const& h) {
  h.Put(os);
  return os;
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutShortInfo<T> const& s) {
  s.Put(os);
  return os;
}

template <class T>
std::ostream& operator<<(std::ostream& os, OutQuoted<T> const& q) {
  q.Put(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, OutBufInHex const& h);
std::ostream& operator<<(std::ostream& os, OutUnsignedInHex const& h);

// Fixed-width text table; cells are centred, a longer text is written whole.
class Table {
public:
  class Sentry;

  Table() { init(); }
  template <std::convertible_to<int>... W>
    requires(sizeof...(W) >= 1 && sizeof...(W) <= 7)
  explicit Table(W... widths) : m_widths{static_cast<int>(widths)...} {
    init();
  }

  void add(int width) { m_widths.push_back(width); }
  void resetrow() { init(); }
  void row(std::ostream& os, std::string const& text);
  // Pads a begun row with blank cells so that it ends.
  void finalize(std::ostream& os);
  void delimeter(std::ostream& os);
  void gap(std::ostream& os);

private:
  void init() {
    m_column = 0;
    m_inrow = false;
  }
  void rule(std::ostream& os, char edge, char fill);

  std::vector<int> m_widths;
  std::size_t m_column = 0;
  bool m_inrow = false;
};

// Lives for one statement: collects the text of the current cell, and on destruction
// closes a row left partly written (text not yet ended by nextrow is dropped).
class Table::Sentry {
public:
  Sentry(std::ostream& os, Table& table) : m_os(os), m_table(table) {}
  ~Sentry() { m_table.finalize(m_os); }
  Sentry(Sentry const&) = delete;
  Sentry& operator=(Sentry const&) = delete;

  template <class T>
  Sentry& put(T const& value) {
    m_cell << value;
    return *this;
  }
  template <class T>
    requires requires(std::ostream& os, T const& v) { os << v; }
  Sentry& operator<<(T const& value) {
    return put(value);
  }
  Sentry& operator<<(Sentry& (*manipulator)(Sentry&)) { return manipulator(*this); }

  void row();
  void beginrow() { m_table.resetrow(); }
  void delimeter() { m_table.delimeter(m_os); }

private:
  std::ostream& m_os;
  Table& m_table;
  std::ostringstream m_cell;
};

inline Table::Sentry operator<<(std::ostream& os, Table& table) { return Table::Sentry(os, table); }

// Ends the current cell with the text collected so far.
Table::Sentry& nextrow(Table::Sentry& s);
Table::Sentry& beginrow(Table::Sentry& s);
Table::Sentry& delimeter(Table::Sentry& s);

}  // namespace ext
