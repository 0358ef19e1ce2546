#pragma once
// CHOICE values: the selected alternative (owned) and its number; -1 when nothing is
// selected, -2 for an alternative the record does not describe.

#include "asn1/abstract_data.h"

namespace ASN1 {

class CHOICE : public AbstractData {
public:
  static constexpr int unselected = -1;
  static constexpr int unknownSelection = -2;

  // Takes over `value` as the alternative `selection`.
  explicit CHOICE(void const* info, int selection = unselected, AbstractData* value = nullptr)
      : AbstractData(info), m_value(value), m_selection(selection) {}
  CHOICE(CHOICE const& other);
  CHOICE& operator=(CHOICE const& other);
  ~CHOICE() override { delete m_value; }
  void swap(CHOICE& other);

  static AbstractData* create(void const* info) { return new CHOICE(info); }

  ChoiceInfo const& choice_info() const { return record<ChoiceInfo>(info()); }
  int currentSelection() const { return m_selection; }
  AbstractData* getSelection() { return m_value; }
  AbstractData const* getSelection() const { return m_value; }
  // Takes over `value`, deleting the old alternative; returns `value`.
  AbstractData* setSelection(int selection, AbstractData* value);
  // Selects alternative `selection` with a new value from its record (the current one is
  // kept when it is already selected); false, and unknown, when the record has none.
  bool select(int selection);
  bool createSelection();
  bool isUnknownSelection() const { return m_selection == unknownSelection; }
  // Selects, with a new value, the alternative that carries the tag of this number and
  // class (the class bits of a BER identifier); false when none does.
  bool setID(unsigned number, unsigned tagClass);
  char const* getSelectionName() const;
  unsigned getSelectionTag() const;
  unsigned getNumChoices() const { return choice_info().root_count; }
  bool extendable() const { return choice_info().extendable; }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  AbstractData* m_value;
  int m_selection;
};

}  // namespace ASN1
