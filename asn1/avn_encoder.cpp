#include "asn1/avn_encoder.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "asn1/choice.h"
#include "asn1/open_data.h"
#include "asn1/sequence.h"
#include "asn1/sequence_of.h"
#include "asn1/simple.h"
#include "asn1/strings.h"

namespace ASN1 {

// A single space right-aligned in a field as wide as the indentation: so even the top
// level's closing brace has one space before it.
void AVNEncoder::indent(int width) { m_os << std::string(static_cast<std::size_t>(width > 1 ? width : 1), ' '); }

void AVNEncoder::quoted(char const* text, std::size_t length) {
  std::string out = "\"";
  for (std::size_t i = 0; i < length; ++i) {
    unsigned char const c = static_cast<unsigned char>(text[i]);
    if (c < 32 || c == 127) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02x", c);
      out += escape;
    } else if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
  m_os << out;
}

void AVNEncoder::octets(char const* data, std::size_t length) {
  std::string out = "'";
  char digits[4];
  for (std::size_t i = 0; i < length; ++i) {
    if (i) out += ' ';
    std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(data[i]));
    out += digits;
  }
  out += "'H";
  m_os << out;
}

bool AVNEncoder::do_visit(Null const&) {
  m_os << "NULL";
  return m_os.good();
}

bool AVNEncoder::do_visit(BOOLEAN const& v) {
  m_os << (v ? "TRUE" : "FALSE");
  return m_os.good();
}

bool AVNEncoder::do_visit(INTEGER const& v) {
  bool const as_unsigned = v.getConstraintType() != Unconstrained && v.getLowerLimit() >= 0;
  m_os << (as_unsigned ? std::to_string(static_cast<unsigned>(v.getValue())) : std::to_string(v.getValue()));
  return m_os.good();
}

bool AVNEncoder::do_visit(IntegerWithNamedNumber const& v) {
  std::string name;
  if (!v.getName(name)) return do_visit(static_cast<INTEGER const&>(v));
  m_os << name;
  return m_os.good();
}

bool AVNEncoder::do_visit(ENUMERATED const& v) {
  std::string_view const name = v.getName();
  if (name.empty())
    m_os << std::to_string(v.asInt());
  else
    m_os << name;
  return m_os.good();
}

bool AVNEncoder::do_visit(OBJECT_IDENTIFIER const& v) {
  m_os << "{ ";
  for (unsigned i = 0; i < v.levels() && m_os.good(); ++i) m_os << std::to_string(v[i]) << ' ';
  m_os << '}';
  return m_os.good();
}

bool AVNEncoder::do_visit(BIT_STRING const& v) {
  std::string out = "'";
  for (unsigned i = 0; i < v.size(); ++i) out += v[i] ? '1' : '0';
  out += "'B";
  m_os << out;
  return m_os.good();
}

bool AVNEncoder::do_visit(OCTET_STRING const& v) {
  octets(v.data(), v.size());
  return m_os.good();
}

bool AVNEncoder::do_visit(AbstractString const& v) {
  quoted(v.data(), v.size());
  return m_os.good();
}

bool AVNEncoder::do_visit(BMPString const& v) {
  std::size_t const needed = std::wcstombs(nullptr, v.c_str(), 0);
  if (needed != static_cast<std::size_t>(-1)) {
    std::string text(needed, '\0');
    std::wcstombs(text.data(), v.c_str(), needed);
    quoted(text.data(), text.size());
    return m_os.good();
  }
  std::string out = "{";
  for (std::size_t i = 0; i < v.size(); ++i) {
    unsigned const c = static_cast<unsigned>(v[i]);
    if (i) out += ", ";
    out += "{ 0, 0, " + std::to_string((c >> 8) & 0xFF) + ", " + std::to_string(c & 0xFF) + "}";
  }
  out += "}";
  m_os << out;
  return m_os.good();
}

bool AVNEncoder::do_visit(CHOICE const& v) {
  char const* const name = v.getSelectionName();
  if (v.currentSelection() < 0 || !v.getSelection() || !name) return false;
  m_os << name << " : ";
  return v.getSelection()->accept(*this) && m_os.good();
}

bool AVNEncoder::do_visit(OpenData const& v) {
  if (v.has_data()) return v.get_data().accept(*this);
  if (!v.has_buf()) return false;
  octets(v.get_buf().data(), v.get_buf().size());
  return m_os.good();
}

bool AVNEncoder::do_visit(GeneralizedTime const& v) {
  std::string const text = v.get();
  quoted(text.data(), text.size());
  return m_os.good();
}

bool AVNEncoder::do_visit(SEQUENCE_OF_Base const& v) {
  m_os << "{\n";
  m_indent += 2;
  bool first = true;
  for (AbstractData const* element : v) {
    if (!m_os.good()) break;
    if (!first) m_os << ",\n";
    first = false;
    indent(m_indent);
    if (!element->accept(*this)) return false;
  }
  m_indent -= 2;
  if (!v.empty()) m_os << '\n';
  indent(m_indent);
  m_os << '}';
  return m_os.good();
}

bool AVNEncoder::preVisitExtensionRoots(SEQUENCE const&) {
  m_printed.push_back(false);
  m_os << "{\n";
  return m_os.good();
}

bool AVNEncoder::visitExtensionRoot(SEQUENCE const& s, int index) {
  if (m_printed.back()) m_os << ",\n";
  indent(m_indent + 2);
  m_os << s.getFieldName(static_cast<unsigned>(index)) << ' ';
  m_indent += 2;
  AbstractData const* const field = s.getField(static_cast<unsigned>(index));
  if (!field || !field->accept(*this)) return false;
  m_indent -= 2;
  m_printed.back() = true;
  return m_os.good();
}

bool AVNEncoder::afterVisitSequence(SEQUENCE const&) {
  if (m_printed.back()) m_os << '\n';
  m_printed.pop_back();
  indent(m_indent);
  m_os << '}';
  return m_os.good();
}

}  // namespace ASN1
