#include "asn1/sequence_of.h"

#include "asn1/visitor.h"

namespace ASN1 {

SEQUENCE_OF_Base::SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other) : ConstrainedObject(other) {
  m_elements.reserve(other.size());
  for (AbstractData const* element : other) m_elements.push_back(element->clone());
}

SEQUENCE_OF_Base& SEQUENCE_OF_Base::operator=(SEQUENCE_OF_Base const& other) {
  if (this != &other) {
    SEQUENCE_OF_Base copy(other);
    swap(copy);
  }
  return *this;
}

void SEQUENCE_OF_Base::insert(iterator at, unsigned count, AbstractData const& value) {
  at = m_elements.insert(at, count, nullptr);
  for (unsigned i = 0; i < count; ++i) at[i] = value.clone();
}

void SEQUENCE_OF_Base::insert(iterator at, const_iterator first, const_iterator last) {
  unsigned const count = static_cast<unsigned>(last - first);
  at = m_elements.insert(at, count, nullptr);
  for (unsigned i = 0; i < count; ++i) at[i] = first[i]->clone();
}

SEQUENCE_OF_Base::iterator SEQUENCE_OF_Base::erase(iterator first, iterator last) {
  for (iterator it = first; it != last; ++it) delete *it;
  return m_elements.erase(first, last);
}

void SEQUENCE_OF_Base::resize(unsigned n) {
  if (n < size()) {
    erase(begin() + n, end());
    return;
  }
  m_elements.reserve(n);
  while (size() < n) m_elements.push_back(createElement());
}

void SEQUENCE_OF_Base::clear() { erase(begin(), end()); }

bool SEQUENCE_OF_Base::isStrictlyValid() const {
  return size() >= static_cast<unsigned>(getLowerLimit()) && size() <= getUpperLimit();
}

bool SEQUENCE_OF_Base::isValid() const {
  return size() >= static_cast<unsigned>(getLowerLimit()) &&
         (getConstraintType() != FixedConstraint || size() <= getUpperLimit());
}

int SEQUENCE_OF_Base::do_compare(AbstractData const& other_data) const {
  auto const& other = static_cast<SEQUENCE_OF_Base const&>(other_data);
  for (unsigned i = 0; i < size() && i < other.size(); ++i)
    if (int const result = m_elements[i]->compare(*other.m_elements[i])) return result;
  return static_cast<int>(size()) - static_cast<int>(other.size());
}

AbstractData* SEQUENCE_OF_Base::do_clone() const {
  SEQUENCE_OF_Base* copy = create_same<SEQUENCE_OF_Base>();
  SEQUENCE_OF_Base elements(*this);
  copy->swap(elements);
  return copy;
}

bool SEQUENCE_OF_Base::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool SEQUENCE_OF_Base::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
