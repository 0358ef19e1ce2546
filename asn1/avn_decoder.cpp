#include "asn1/avn_decoder.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

namespace {

// Skips white space; false, with failbit, when nothing follows it.
bool skip_space(std::istream& is) {
  if (is.good()) is >> std::ws;
  if (is.good()) return true;
  is.setstate(std::ios_base::failbit);
  return false;
}

bool read_char(std::istream& is, char& c) {
  if (!skip_space(is)) return false;
  c = static_cast<char>(is.get());
  return true;
}

bool expect_char(std::istream& is, char expected) {
  char c = 0;
  return read_char(is, c) && c == expected;
}

// A word ends at white space, "," or "}", which stay in the stream: so a name printed
// right before the separator reads back. A "," or "}" met first is a word of its own.
bool read_word(std::istream& is, std::string& word) {
  word.clear();
  if (!skip_space(is)) return false;
  int c = is.peek();
  if (c == ',' || c == '}') {
    word = static_cast<char>(is.get());
    return true;
  }
  while (c != std::char_traits<char>::eof() && !std::isspace(c) && c != ',' && c != '}') {
    word += static_cast<char>(is.get());
    c = is.peek();
  }
  return true;
}

// Letters read one at a time, white space between them skipped; the first other
// character stays in the stream.
std::string read_letters(std::istream& is) {
  std::string word;
  while (is.good()) {
    is >> std::ws;
    if (!is.good() || !std::isalpha(is.peek())) break;
    word += static_cast<char>(is.get());
  }
  return word;
}

bool parse_number(std::string const& text, unsigned long long limit, unsigned long long& out) {
  if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0]))) return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoull(text.c_str(), &end, 10);
  return *end == '\0' && errno == 0 && out <= limit;
}

// A decimal int with an optional minus sign.
bool parse_int(std::string const& text, int& out) {
  bool const negative = !text.empty() && text[0] == '-';
  unsigned long long magnitude = 0;
  if (!parse_number(negative ? text.substr(1) : text, negative ? 1ull + INT_MAX : INT_MAX, magnitude)) return false;
  out = static_cast<int>(negative ? 0ull - magnitude : magnitude);
  return true;
}

int hex_digit(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The literal and its base: 2 for 'digits'B, 16 for 'digits'H.
bool read_literal(std::istream& is, std::vector<char>& bytes, unsigned& count, int& base) {
  if (!expect_char(is, '\'')) return false;
  std::string text;
  if (!std::getline(is, text, '\'') || is.eof()) return false;
  char form = 0;
  if (!read_char(is, form)) return false;
  if (form == 'B') {
    base = 2;
    return get_from_bstring(text, bytes, count);
  }
  if (form == 'H') {
    base = 16;
    return get_from_hstring(text, bytes, count);
  }
  return false;
}

}  // namespace

bool get_string(std::istream& is, std::string& text) {
  if (!expect_char(is, '"')) return false;
  text.clear();
  for (;;) {
    int const c = is.get();
    if (c == std::char_traits<char>::eof()) return false;
    if (c == '"') return true;
    if (c != '\\') {
      text += static_cast<char>(c);
      continue;
    }
    int const escaped = is.get();
    if (escaped == '\\' || escaped == '"') {
      text += static_cast<char>(escaped);
    } else if (escaped == 'x') {
      int const high = hex_digit(is.get());
      int const low = hex_digit(is.get());
      if (high < 0 || low < 0) return false;
      text += static_cast<char>(high << 4 | low);
    } else {
      return false;  // the printer writes no other escape
    }
  }
}

bool get_id(char const* const* names, unsigned count, std::string const& name, int& index) {
  for (unsigned i = 0; i < count; ++i) {
    if (names[i] && name == names[i]) {
      index = static_cast<int>(i);
      return true;
    }
  }
  return false;
}

bool get_value_from(std::istream& is, std::vector<char>& bytes, unsigned& count) {
  int base = 0;
  return read_literal(is, bytes, count, base);
}

bool get_from_hstring(std::string& text, std::vector<char>& bytes, unsigned& count) {
  return get_from_string(text, bytes, count, 16);
}

bool get_from_bstring(std::string& text, std::vector<char>& bytes, unsigned& count) {
  return get_from_string(text, bytes, count, 2);
}

bool get_from_string(std::string& text, std::vector<char>& bytes, unsigned& count, int base) {
  std::erase_if(text, [](char c) { return is_space_or_newline(c); });
  count = static_cast<unsigned>(text.size());
  std::size_t const digits = base == 16 ? 2 : 8;
  if (text.size() % digits) text.append(digits - text.size() % digits, '0');
  bytes.clear();
  bytes.reserve(text.size() / digits);
  for (std::size_t i = 0; i < text.size(); i += digits) {
    unsigned octet = 0;
    for (std::size_t k = i; k < i + digits; ++k) {
      int const digit = hex_digit(text[k]);
      if (digit < 0 || digit >= base) return false;
      octet = octet * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    bytes.push_back(static_cast<char>(octet));
  }
  return true;
}

std::ios_base::iostate AbstractData::get_from(std::istream& is) {
  AVNDecoder decoder(is, nullptr);
  return accept(decoder) ? std::ios_base::goodbit : std::ios_base::failbit;
}

bool AbstractData::setFromValueNotation(std::string const& text) {
  std::istringstream is(text);
  AVNDecoder decoder(is, nullptr);
  return accept(decoder);
}

bool AVNDecoder::do_visit(Null&) { return read_letters(m_is) == "NULL"; }

bool AVNDecoder::do_visit(BOOLEAN& v) {
  std::string const word = read_letters(m_is);
  if (word != "TRUE" && word != "FALSE") return false;
  v = word == "TRUE";
  return true;
}

bool AVNDecoder::do_visit(INTEGER& v) {
  if (!skip_space(m_is)) return false;
  if (v.getConstraintType() != Unconstrained && v.getLowerLimit() >= 0) {
    unsigned value = 0;
    m_is >> value;
    v.setValue(static_cast<int>(value));
  } else {
    int value = 0;
    m_is >> value;
    v.setValue(value);
  }
  return input_success(m_is);
}

bool AVNDecoder::do_visit(IntegerWithNamedNumber& v) {
  if (!skip_space(m_is)) return false;
  int const c = m_is.peek();
  if (std::isdigit(c) || c == '-') return do_visit(static_cast<INTEGER&>(v));
  std::string name;
  return read_word(m_is, name) && v.setFromName(name);
}

// A name, or a number: the printer writes a value without a name as its number.
bool AVNDecoder::do_visit(ENUMERATED& v) {
  std::string word;
  if (!read_word(m_is, word)) return false;
  int number = 0;
  if (parse_int(word, number)) {
    v.setFromInt(number);
    return true;
  }
  return v.setFromName(word);
}

bool AVNDecoder::do_visit(OBJECT_IDENTIFIER& v) {
  if (!expect_char(m_is, '{')) return false;
  std::string text;
  if (!std::getline(m_is, text, '}') || m_is.eof()) return false;
  std::istringstream arcs(text);
  std::string word;
  unsigned long long arc = 0;
  while (arcs >> word) {
    if (std::isdigit(static_cast<unsigned char>(word[0]))) {
      if (!parse_number(word, UINT_MAX, arc)) return false;
      v.append(static_cast<unsigned>(arc));
      continue;
    }
    std::size_t const open = word.find('(');
    if (open != std::string::npos) {  // name(number)
      if (word.back() != ')' || !parse_number(word.substr(open + 1, word.size() - open - 2), UINT_MAX, arc))
        return false;
      v.append(static_cast<unsigned>(arc));
      continue;
    }
    char c = 0;
    if (!read_char(arcs, c)) break;  // a bare name at the end
    if (c != '(') continue;          // a bare name: the character after it is dropped
    std::string number;
    if (!std::getline(arcs, number, ')') || arcs.eof()) return false;
    number.erase(0, number.find_first_not_of(' '));
    number.erase(number.find_last_not_of(' ') + 1);
    if (!parse_number(number, UINT_MAX, arc)) return false;
    v.append(static_cast<unsigned>(arc));
  }
  return true;
}

bool AVNDecoder::do_visit(OCTET_STRING& v) {
  std::vector<char> bytes;
  unsigned count = 0;
  if (!get_value_from(m_is, bytes, count)) return false;
  v.assign(bytes.begin(), bytes.end());
  return true;
}

bool AVNDecoder::do_visit(BIT_STRING& v) {
  std::vector<char> bytes;
  unsigned count = 0;
  int base = 0;
  if (!read_literal(m_is, bytes, count, base)) return false;
  // A hexadecimal digit carries four bits.
  unsigned const bits = base == 16 ? 4 * count : count;
  v.resize(bits);
  std::copy(bytes.begin(), bytes.begin() + (bits + 7) / 8, v.getData().begin());
  v.resize(bits);  // bits past the count stay 0
  return true;
}

bool AVNDecoder::do_visit(AbstractString& v) {
  std::string text;
  if (!get_string(m_is, text)) return false;
  v.assign(text);
  return true;
}

bool AVNDecoder::do_visit(BMPString& v) {
  std::string text;
  if (!get_string(m_is, text)) return false;
  std::size_t const count = std::mbstowcs(nullptr, text.c_str(), 0);
  if (count == static_cast<std::size_t>(-1)) return false;
  std::wstring wide(count + 1, L'\0');
  std::mbstowcs(wide.data(), text.c_str(), count + 1);
  v.assign(wide.data(), count);
  return true;
}

bool AVNDecoder::do_visit(GeneralizedTime& v) {
  std::string text;
  if (!get_string(m_is, text)) return false;
  v.set(text.c_str());
  return true;
}

bool AVNDecoder::do_visit(CHOICE& v) {
  std::string name;
  int index = 0;
  if (!read_word(m_is, name) || !expect_char(m_is, ':')) return false;
  ChoiceInfo const& r = v.choice_info();
  if (!get_id(r.names, r.known_count, name, index) || !v.select(index)) return false;
  return v.getSelection()->accept(*this);
}

bool AVNDecoder::do_visit(SEQUENCE_OF_Base& v) {
  char c = 0;
  if (!expect_char(m_is, '{') || !read_char(m_is, c)) return false;
  v.clear();
  if (c == '}') return true;
  m_is.unget();
  for (;;) {
    std::unique_ptr<AbstractData> element(v.createElement());
    if (!element || !element->accept(*this)) return false;
    v.push_back(element.release());
    if (!read_char(m_is, c)) return false;
    if (c == '}') return true;
    if (c != ',') return false;
  }
}

bool AVNDecoder::do_visit(TypeConstrainedOpenData& v) { return v.has_data() && v.get_data().accept(*this); }

int AVNDecoder::preVisitExtensionRoots(SEQUENCE& s) {
  char c = 0;
  if (!expect_char(m_is, '{') || !read_char(m_is, c)) return Fail;
  // Only the fields the text names are present, also in a value that held another one.
  SEQUENCE::BitMap& optional = s.optionalMap();
  unsigned const bits = optional.size();
  optional.resize(0);
  optional.resize(bits);
  s.extensionMap().resize(0);
  if (c == '}') return Stop;
  m_is.unget();
  m_names.emplace_back();
  return read_word(m_is, m_names.back()) ? ContinueWithExtensions : Fail;
}

int AVNDecoder::visitExtensionRoot(SEQUENCE& s, int index, int optionalId) {
  unsigned const i = static_cast<unsigned>(index);
  if (m_names.back() != s.getFieldName(i)) return optionalId != -1 ? ContinueWithExtensions : Fail;
  if (optionalId != -1) s.includeOptionalField(static_cast<unsigned>(optionalId), i);
  if (!s.makeField(i).accept(*this)) return Fail;
  char c = 0;
  if (!read_char(m_is, c)) return Fail;
  if (c == ',') return read_word(m_is, m_names.back()) ? ContinueWithExtensions : Fail;
  if (c != '}') return Fail;
  m_names.pop_back();
  return Stop;
}

// Every field was visited and the text went on after the last one it named: only a
// closing brace may follow.
int AVNDecoder::visitUnknownExtensions(SEQUENCE&) {
  if (m_names.back() != "}") return Fail;
  m_names.pop_back();
  return Stop;
}

}  // namespace ASN1
