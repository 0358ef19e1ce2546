#include "asn1/choice.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "asn1/visitor.h"

namespace ASN1 {

CHOICE::CHOICE(CHOICE const& other)
    : AbstractData(other), m_value(other.m_value ? other.m_value->clone() : nullptr), m_selection(other.m_selection) {}

CHOICE& CHOICE::operator=(CHOICE const& other) {
  if (this != &other) {
    AbstractData* const copy = other.m_value ? other.m_value->clone() : nullptr;
    delete m_value;
    m_value = copy;
    m_selection = other.m_selection;
  }
  return *this;
}

void CHOICE::swap(CHOICE& other) {
  std::swap(m_value, other.m_value);
  std::swap(m_selection, other.m_selection);
}

AbstractData* CHOICE::setSelection(int selection, AbstractData* value) {
  if (value != m_value) delete m_value;
  m_value = value;
  m_selection = selection;
  return value;
}

bool CHOICE::select(int selection) {
  if (selection == m_selection && m_value) return true;
  m_selection = selection;
  return createSelection();
}

bool CHOICE::createSelection() {
  ChoiceInfo const& r = choice_info();
  if (m_selection >= 0 && static_cast<unsigned>(m_selection) < r.known_count && r.alternatives[m_selection]) {
    setSelection(m_selection, AbstractData::create(r.alternatives[m_selection]));
    return true;
  }
  delete m_value;
  m_value = nullptr;
  m_selection = unknownSelection;
  return false;
}

bool CHOICE::setID(unsigned number, unsigned tagClass) {
  ChoiceInfo const& r = choice_info();
  if (!r.tags) {
    // Automatic tags: the number is the alternative's, whatever the class.
    m_selection = number <= INT_MAX ? static_cast<int>(number) : unknownSelection;
    return createSelection();
  }
  // The root's tags are in ascending order; extension alternatives are not searched.
  unsigned const word = (tagClass << 16) + number;
  unsigned const* const end = r.tags + r.root_count;
  unsigned const* const found = std::lower_bound(r.tags, end, word);
  if (found != end && *found == word) {
    m_selection = static_cast<int>(found - r.tags);
    return createSelection();
  }
  if (r.known_count == 0 || r.tags[0] != 0) return false;
  // The first alternative is an untagged CHOICE: the tag may be one of its own.
  m_selection = 0;
  if (createSelection()) {
    auto* const inner = dynamic_cast<CHOICE*>(m_value);
    if (inner && inner->setID(number, tagClass)) return true;
  }
  setSelection(unknownSelection, nullptr);
  return false;
}

char const* CHOICE::getSelectionName() const {
  if (m_selection < 0 || static_cast<unsigned>(m_selection) >= choice_info().known_count) return nullptr;
  return choice_info().names[m_selection];
}

unsigned CHOICE::getSelectionTag() const {
  unsigned const* const tags = choice_info().tags;
  return tags ? tags[m_selection] : context(static_cast<unsigned>(m_selection));
}

int CHOICE::do_compare(AbstractData const& other_data) const {
  auto const& other = static_cast<CHOICE const&>(other_data);
  if (m_selection < 0 || m_selection != other.m_selection) return wrapping_difference(m_selection, other.m_selection);
  if (!m_value || !other.m_value) return int(m_value != nullptr) - int(other.m_value != nullptr);
  return m_value->compare(*other.m_value);
}

AbstractData* CHOICE::do_clone() const {
  CHOICE* copy = create_same<CHOICE>();
  *copy = *this;
  return copy;
}

bool CHOICE::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool CHOICE::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
