#pragma once
// Fills any value with the simplest valid content its record allows: the first
// alternative of every CHOICE, the lower bound of every range, one element in every
// list, and (when asked) every optional field present.

#include "asn1/asn1.h"

namespace test_schemas {

class Filler : public ASN1::Visitor {
public:
  explicit Filler(bool optional_fields = false) : m_optional(optional_fields) {}

protected:
  bool do_visit(ASN1::Null&) override { return true; }
  bool do_visit(ASN1::BOOLEAN& v) override {
    v = true;
    return true;
  }
  bool do_visit(ASN1::INTEGER& v) override {
    v.setValue(v.getConstraintType() == ASN1::FixedConstraint ? v.getLowerLimit() : 7);
    return true;
  }
  bool do_visit(ASN1::ENUMERATED& v) override;
  bool do_visit(ASN1::OBJECT_IDENTIFIER& v) override {
    v.append(1);
    v.append(2);
    return true;
  }
  bool do_visit(ASN1::OCTET_STRING& v) override {
    v.assign({1, 2, 3});
    return true;
  }
  bool do_visit(ASN1::BIT_STRING& v) override {
    v.resize(3);
    return true;
  }
  bool do_visit(ASN1::AbstractString& v) override {
    v.assign(std::string(v.getLowerLimit() > 0 ? static_cast<std::size_t>(v.getLowerLimit()) : 3, 'a'));
    return true;
  }
  bool do_visit(ASN1::BMPString&) override { return true; }
  bool do_visit(ASN1::CHOICE& v) override { return v.select(0) && v.getSelection()->accept(*this); }
  bool do_visit(ASN1::SEQUENCE_OF_Base& v) override {
    v.push_back(v.createElement());
    return (*v.begin())->accept(*this);
  }
  bool do_visit(ASN1::OpenData&) override { return true; }
  bool do_revisit(ASN1::OpenData&) override { return true; }
  bool do_visit(ASN1::TypeConstrainedOpenData&) override { return true; }
  bool do_visit(ASN1::GeneralizedTime&) override { return true; }
  int preVisitExtensionRoots(ASN1::SEQUENCE&) override { return Continue; }
  int visitExtensionRoot(ASN1::SEQUENCE& s, int index, int optional_id) override;

private:
  bool m_optional;
};

// Fills `value` and returns it.
template <class T>
T& fill(T& value, bool optional_fields = false) {
  Filler filler(optional_fields);
  value.accept(filler);
  return value;
}

}  // namespace test_schemas
