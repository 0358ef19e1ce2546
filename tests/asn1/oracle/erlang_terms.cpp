#include "tests/asn1/oracle/erlang_terms.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "tests/asn1/oracle/oracle_types.h"

namespace oracle {

char const* oracle_record_name(ASN1::SequenceInfo const& info) {
  for (auto const& named : oracle_types::kSequenceNames)
    if (named.info == &info) return named.name;
  return nullptr;
}

namespace {

using namespace ASN1;

class TermWriter : public ConstVisitor {
public:
  TermWriter(RecordNames const& names, bool enumeration_names) : m_names(names), m_enumeration_names(enumeration_names) {}
  std::string text() const { return m_out.str(); }

protected:
  bool do_visit(AbstractData const&) override { return false; }
  bool do_visit(Null const&) override {
    m_out << "'NULL'";
    return true;
  }
  bool do_visit(BOOLEAN const& v) override {
    m_out << (v ? "true" : "false");
    return true;
  }
  bool do_visit(INTEGER const& v) override {
    // A fixed range from 0 up reads the 32 bits unsigned (0..4294967295).
    if (v.getConstraintType() == FixedConstraint && v.getLowerLimit() >= 0)
      m_out << static_cast<unsigned>(v.getValue());
    else
      m_out << v.getValue();
    return true;
  }
  bool do_visit(ENUMERATED const& v) override {
    if (!m_enumeration_names) {
      m_out << v.asInt();
      return true;
    }
    std::string_view const name = v.getName();
    if (name.empty()) return false;
    m_out << '\'' << name << '\'';
    return true;
  }
  bool do_visit(OCTET_STRING const& v) override {
    m_out << "<<";
    list(v.begin(), v.end());
    m_out << ">>";
    return true;
  }
  bool do_visit(AbstractString const& v) override {
    m_out << '[';
    list(v.begin(), v.end());
    m_out << ']';
    return true;
  }
  bool do_visit(CHOICE const& v) override {
    char const* const name = v.getSelectionName();
    if (!name || !v.getSelection()) return false;
    // The translation spells a name's underscores as hyphens, as Erlang's compiler wants.
    std::string alternative = name;
    std::replace(alternative.begin(), alternative.end(), '_', '-');
    m_out << "{'" << alternative << "',";
    if (!v.getSelection()->accept(*this)) return false;
    m_out << '}';
    return true;
  }
  bool do_visit(SEQUENCE_OF_Base const& v) override {
    m_out << '[';
    for (unsigned i = 0; i < v.size(); ++i) {
      if (i) m_out << ',';
      if (!v.begin()[i]->accept(*this)) return false;
    }
    m_out << ']';
    return true;
  }

  // A record tuple holds every field the type knows, present or not, in record order.
  bool preVisitExtensionRoots(SEQUENCE const& s) override {
    char const* const name = m_names(s.sequence_info());
    if (!name) return false;
    m_out << "{'" << name << "'";
    m_next.push_back(0);
    return true;
  }
  bool visitExtensionRoot(SEQUENCE const& s, int index) override { return field(s, index); }
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return field(s, index); }
  bool afterVisitSequence(SEQUENCE const& s) override {
    absent_up_to(s.fieldCount());
    m_out << '}';
    m_next.pop_back();
    return true;
  }

private:
  template <class Iterator>
  void list(Iterator begin, Iterator end) {
    for (Iterator it = begin; it != end; ++it) {
      if (it != begin) m_out << ',';
      m_out << static_cast<unsigned>(static_cast<unsigned char>(*it));
    }
  }

  bool field(SEQUENCE const& s, int index) {
    absent_up_to(static_cast<unsigned>(index));
    m_out << ',';
    m_next.back() = static_cast<unsigned>(index) + 1;
    return s.getField(static_cast<unsigned>(index)) && s.getField(static_cast<unsigned>(index))->accept(*this);
  }

  void absent_up_to(unsigned index) {
    for (; m_next.back() < index; ++m_next.back()) m_out << ",asn1_NOVALUE";
  }

  RecordNames const& m_names;
  bool const m_enumeration_names;
  std::ostringstream m_out;
  std::vector<unsigned> m_next;  // per open SEQUENCE: the next field to write
};

}  // namespace

std::string erlang_term(AbstractData const& value, RecordNames const& names) {
  TermWriter writer(names, false);
  return value.accept(writer) ? writer.text() : std::string();
}

std::string erlang_term(AbstractData const& value) { return erlang_term(value, oracle_record_name); }

std::string erlang_term_with_names(AbstractData const& value) {
  RecordNames const names = oracle_record_name;
  TermWriter writer(names, true);
  return value.accept(writer) ? writer.text() : std::string();
}

}  // namespace oracle
