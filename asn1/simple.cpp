#include "asn1/simple.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "asn1/visitor.h"

namespace ASN1 {

TypeInfo const Null::theInfo{&Null::create, universal(5)};
TypeInfo const BOOLEAN::theInfo{&BOOLEAN::create, universal(1)};
ConstrainedInfo const INTEGER::theInfo{{&INTEGER::create, universal(2)}, Unconstrained, 0, 4294967295u};
TypeInfo const OBJECT_IDENTIFIER::theInfo{&OBJECT_IDENTIFIER::create, universal(6)};
TypeInfo const GeneralizedTime::theInfo{&GeneralizedTime::create, universal(24)};

bool Null::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool Null::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

int BOOLEAN::do_compare(AbstractData const& other) const {
  return int(m_value) - int(static_cast<BOOLEAN const&>(other).m_value);
}

AbstractData* BOOLEAN::do_clone() const {
  BOOLEAN* copy = create_same<BOOLEAN>();
  copy->m_value = m_value;
  return copy;
}

bool BOOLEAN::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool BOOLEAN::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

// Signed when the lower bound is negative, unsigned otherwise.
bool INTEGER::isStrictValid() const {
  int const lower = getLowerLimit();
  unsigned const upper = getUpperLimit();
  if (lower < 0) return m_value >= lower && static_cast<std::int64_t>(m_value) <= static_cast<std::int64_t>(upper);
  unsigned const v = static_cast<unsigned>(m_value);
  return v >= static_cast<unsigned>(lower) && v <= upper;
}

int INTEGER::do_compare(AbstractData const& other) const {
  return wrapping_difference(m_value, static_cast<INTEGER const&>(other).m_value);
}

AbstractData* INTEGER::do_clone() const {
  INTEGER* copy = create_same<INTEGER>();
  copy->m_value = m_value;
  return copy;
}

bool INTEGER::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool INTEGER::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

bool IntegerWithNamedNumber::getName(std::string& name) const {
  NameEntry const* const begin = named().names;
  NameEntry const* const end = begin + named().count;
  NameEntry const* found =
      std::lower_bound(begin, end, getValue(), [](NameEntry const& e, int v) { return e.value < v; });
  if (found == end || found->value != getValue()) return false;
  name = found->name;
  return true;
}

bool IntegerWithNamedNumber::setFromName(std::string_view name) {
  for (unsigned i = 0; i < named().count; ++i) {
    if (name == named().names[i].name) {
      setValue(named().names[i].value);
      return true;
    }
  }
  return false;
}

bool IntegerWithNamedNumber::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool IntegerWithNamedNumber::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

namespace {

// Calls `visit(name, value)` for each name-table entry in order, until one returns true;
// whether one did. An entry's value is its "=n" suffix, or the previous entry's value
// plus one.
template <class Visit>
bool find_entry(EnumeratedInfo const& e, Visit visit) {
  unsigned value = 0;
  for (unsigned i = 0; i < e.name_count; ++i, ++value) {
    std::string_view entry = e.names[i];
    std::size_t const equals = entry.find('=');
    if (equals != std::string_view::npos) {
      value = static_cast<unsigned>(std::atoi(e.names[i] + equals + 1));
      entry = entry.substr(0, equals);
    }
    if (visit(entry, static_cast<int>(value))) return true;
  }
  return false;
}

}  // namespace

std::string_view ENUMERATED::getName() const {
  std::string_view name;
  find_entry(enumerated(), [&](std::string_view entry, int value) {
    if (value != m_value) return false;
    name = entry;
    return true;
  });
  return name;
}

bool ENUMERATED::setFromName(std::string_view name) {
  bool const found = find_entry(enumerated(), [&](std::string_view entry, int value) {
    if (entry != name) return false;
    m_value = value;
    return true;
  });
  if (!found) m_value = static_cast<int>(static_cast<unsigned>(getMaximum()) + 1u);
  return found;
}

int ENUMERATED::do_compare(AbstractData const& other) const {
  return wrapping_difference(m_value, static_cast<ENUMERATED const&>(other).m_value);
}

AbstractData* ENUMERATED::do_clone() const {
  ENUMERATED* copy = create_same<ENUMERATED>();
  copy->m_value = m_value;
  return copy;
}

bool ENUMERATED::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool ENUMERATED::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

void OBJECT_IDENTIFIER::encodeCommon(std::vector<char>& out) const {
  if (m_arcs.size() < 2) {
    out.clear();
    return;
  }
  std::vector<char> octets;
  auto put = [&octets](std::uint64_t subidentifier) {
    char group[10];
    int n = 0;
    do {
      group[n++] = static_cast<char>(subidentifier & 0x7F);
      subidentifier >>= 7;
    } while (subidentifier);
    while (n-- > 0) octets.push_back(static_cast<char>(group[n] | (n ? 0x80 : 0)));
  };
  put(std::uint64_t(m_arcs[0]) * 40 + m_arcs[1]);
  for (std::size_t i = 2; i < m_arcs.size(); ++i) put(m_arcs[i]);
  out.insert(out.begin(), octets.begin(), octets.end());
}

bool OBJECT_IDENTIFIER::decodeCommon(char const* octets, unsigned count) {
  m_arcs.clear();
  bool first = true;
  for (unsigned i = 0; i < count;) {
    std::uint64_t value = 0;
    for (;;) {
      if (i == count) return false;  // ends inside a subidentifier
      unsigned char const octet = static_cast<unsigned char>(octets[i++]);
      value = (value << 7) | (octet & 0x7F);
      if (value > 0xFFFFFFFFu) return false;  // an arc is 32 bits
      if (!(octet & 0x80)) break;
    }
    if (first) {
      unsigned const x = static_cast<unsigned>(value);
      unsigned const top = x < 40 ? 0 : x < 80 ? 1 : 2;
      m_arcs.push_back(top);
      m_arcs.push_back(x - top * 40);
      first = false;
    } else {
      m_arcs.push_back(static_cast<unsigned>(value));
    }
  }
  return true;
}

int OBJECT_IDENTIFIER::do_compare(AbstractData const& other) const {
  auto const& o = static_cast<OBJECT_IDENTIFIER const&>(other).m_arcs;
  std::size_t const n = std::min(m_arcs.size(), o.size());
  for (std::size_t i = 0; i < n; ++i)
    if (m_arcs[i] != o[i]) return static_cast<int>(m_arcs[i] - o[i]);
  return static_cast<int>(m_arcs.size()) - static_cast<int>(o.size());
}

AbstractData* OBJECT_IDENTIFIER::do_clone() const {
  OBJECT_IDENTIFIER* copy = create_same<OBJECT_IDENTIFIER>();
  copy->m_arcs = m_arcs;
  return copy;
}

bool OBJECT_IDENTIFIER::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool OBJECT_IDENTIFIER::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

GeneralizedTime::GeneralizedTime(int y, int mo, int d, int h, int mi, int s, int ms, int off, bool u)
    : AbstractData(&theInfo),
      year(y),
      month(mo),
      day(d),
      hour(h),
      minute(mi),
      second(s),
      millisecond(ms),
      offset(off),
      utc(u) {}

GeneralizedTime& GeneralizedTime::operator=(GeneralizedTime const& other) {
  year = other.year;
  month = other.month;
  day = other.day;
  hour = other.hour;
  minute = other.minute;
  second = other.second;
  millisecond = other.millisecond;
  offset = other.offset;
  utc = other.utc;
  return *this;
}

void GeneralizedTime::swap(GeneralizedTime& other) {
  GeneralizedTime const copy(*this);
  *this = other;
  other = copy;
}

std::string GeneralizedTime::get() const {
  // Fields set by code may hold any int (eleven characters each): every piece is formatted
  // into a buffer that holds its longest form, and appended whole.
  char piece[64];
  std::string text;
  auto const add = [&](int length) {
    if (length > 0) text.append(piece, std::min(static_cast<std::size_t>(length), sizeof piece - 1));
  };
  add(std::snprintf(piece, sizeof piece, "%04d%02d%02d", year, month, day));
  add(std::snprintf(piece, sizeof piece, "%02d%02d%02d", hour, minute, second));
  if (millisecond) add(std::snprintf(piece, sizeof piece, ".%03d", millisecond));
  if (utc) {
    text += 'Z';
  } else if (offset) {
    unsigned const magnitude = offset < 0 ? 0u - static_cast<unsigned>(offset) : static_cast<unsigned>(offset);
    add(std::snprintf(piece, sizeof piece, "%c%02u%02u", offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60));
  }
  return text;
}

void GeneralizedTime::set(char const* text) {
  std::size_t const length = std::strlen(text);
  std::sscanf(text, "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second);
  if (length > 14 && text[14] == '.') {
    float fraction = 0;
    if (std::sscanf(text + 14, "%f", &fraction) == 1) millisecond = static_cast<int>(fraction * 1000);
  }
  if (length == 0) return;
  if (text[length - 1] == 'Z') {
    utc = true;
  } else if (length >= 5 && (text[length - 5] == '+' || text[length - 5] == '-')) {
    int hh = 0, mm = 0;
    if (std::sscanf(text + length - 4, "%2d%2d", &hh, &mm) == 2)
      offset = (text[length - 5] == '-' ? -1 : 1) * (hh * 60 + mm);
  }
}

std::time_t GeneralizedTime::get_time_t() const {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return std::mktime(&t);
}

void GeneralizedTime::set_time_t(std::time_t time) {
  std::tm t;
  if (!::gmtime_r(&time, &t)) return;
  year = t.tm_year + 1900;
  month = t.tm_mon + 1;
  day = t.tm_mday;
  hour = t.tm_hour;
  minute = t.tm_min;
  second = t.tm_sec;
}

bool GeneralizedTime::isStrictlyValid() const {
  // The day is only tested against 31 and the milliseconds not at all.
  return year >= 1 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour >= 0 && hour <= 24 && minute >= 0 &&
         minute <= 59 && second >= 0 && second <= 59 && offset >= -720 && offset <= 720;
}

int GeneralizedTime::do_compare(AbstractData const& other) const {
  auto const& o = static_cast<GeneralizedTime const&>(other);
  int const mine[] = {year, month, day, hour, minute, second, millisecond};
  int const theirs[] = {o.year, o.month, o.day, o.hour, o.minute, o.second, o.millisecond};
  for (int i = 0; i < 7; ++i)
    if (mine[i] != theirs[i]) return wrapping_difference(mine[i], theirs[i]);
  return int(utc) - int(o.utc);
}

AbstractData* GeneralizedTime::do_clone() const {
  GeneralizedTime* copy = create_same<GeneralizedTime>();
  *copy = *this;
  return copy;
}

bool GeneralizedTime::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool GeneralizedTime::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
