#pragma once
// SEQUENCE OF and SET OF values: owned elements made from the element record. The typed
// views SEQUENCE_OF<T> and SET_OF<T> each have their own constant record, whose creation
// function builds the typed view, so that reading through it is never a downcast.

#include <iterator>

#include "asn1/abstract_data.h"
#include "asn1/pointer_array.h"

namespace ASN1 {

class SEQUENCE_OF_Base : public ConstrainedObject {
public:
  using iterator = AbstractData**;
  using const_iterator = AbstractData* const*;

  explicit SEQUENCE_OF_Base(void const* info) : ConstrainedObject(info) {}
  SEQUENCE_OF_Base(SEQUENCE_OF_Base const& other);
  SEQUENCE_OF_Base& operator=(SEQUENCE_OF_Base const& other);
  ~SEQUENCE_OF_Base() override { clear(); }
  void swap(SEQUENCE_OF_Base& other) { m_elements.swap(other.m_elements); }

  static AbstractData* create(void const* info) { return new SEQUENCE_OF_Base(info); }

  SequenceOfInfo const& sequence_of_info() const { return record<SequenceOfInfo>(info()); }
  unsigned size() const { return m_elements.size(); }
  bool empty() const { return m_elements.empty(); }
  void reserve(unsigned n) { m_elements.reserve(n); }
  iterator begin() { return m_elements.begin(); }
  iterator end() { return m_elements.end(); }
  const_iterator begin() const { return m_elements.begin(); }
  const_iterator end() const { return m_elements.end(); }

  // Takes over the element.
  void push_back(AbstractData* element) { m_elements.push_back(element); }
  AbstractData* createElement() const { return AbstractData::create(sequence_of_info().element); }
  void insert(iterator at, unsigned count, AbstractData const& value);
  void insert(iterator at, const_iterator first, const_iterator last);
  iterator erase(iterator first, iterator last);
  void resize(unsigned n);
  void clear();

  bool isStrictlyValid() const;
  bool isValid() const;

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  static constexpr unsigned kInlineElements = 8;
  PointerArray<kInlineElements> m_elements;
};

struct EmptyConstraint {};

// Iterates element pointers as references to the element class.
template <class T, class Position>
class ElementIterator {
public:
  using iterator_category = std::forward_iterator_tag;
  using value_type = std::remove_const_t<T>;
  using difference_type = std::ptrdiff_t;
  using pointer = T*;
  using reference = T&;

  ElementIterator() = default;
  explicit ElementIterator(Position at) : m_at(at) {}
  T& operator*() const { return static_cast<T&>(**m_at); }
  T* operator->() const { return static_cast<T*>(*m_at); }
  ElementIterator& operator++() {
    ++m_at;
    return *this;
  }
  ElementIterator operator++(int) {
    ElementIterator old = *this;
    ++m_at;
    return old;
  }
  bool operator==(ElementIterator const& other) const { return m_at == other.m_at; }
  bool operator!=(ElementIterator const& other) const { return m_at != other.m_at; }
  Position base() const { return m_at; }

private:
  Position m_at = nullptr;
};

template <class T, unsigned Tag>
class TypedSequenceOf : public SEQUENCE_OF_Base {
public:
  using iterator = ElementIterator<T, AbstractData**>;
  using const_iterator = ElementIterator<T const, AbstractData* const*>;

  // Declared before the record: the record must name this class's creation function.
  static AbstractData* create(void const* info) { return new TypedSequenceOf(FromRecord{}, info); }
  static constexpr SequenceOfInfo theInfo{{{&TypedSequenceOf::create, Tag}, Unconstrained, 0, 4294967295u},
                                          &T::theInfo};

  TypedSequenceOf() : SEQUENCE_OF_Base(&theInfo) {}
  TypedSequenceOf(TypedSequenceOf const&) = default;
  TypedSequenceOf& operator=(TypedSequenceOf const&) = default;

  // Appends a copy of the element.
  void push_back(T const& element) { SEQUENCE_OF_Base::push_back(element.clone()); }
  T const& operator[](unsigned i) const { return *const_iterator(SEQUENCE_OF_Base::begin() + i); }
  iterator begin() { return iterator(SEQUENCE_OF_Base::begin()); }
  iterator end() { return iterator(SEQUENCE_OF_Base::end()); }
  const_iterator begin() const { return const_iterator(SEQUENCE_OF_Base::begin()); }
  const_iterator end() const { return const_iterator(SEQUENCE_OF_Base::end()); }
  // Deletes the element and returns the position after it.
  iterator erase(iterator at) { return iterator(SEQUENCE_OF_Base::erase(at.base(), at.base() + 1)); }
  void clean(iterator at) {
    delete *at.base();
    *at.base() = nullptr;
  }

private:
  struct FromRecord {};
  TypedSequenceOf(FromRecord, void const* info) : SEQUENCE_OF_Base(info) {}
};

template <class T, class Constraint = EmptyConstraint>
using SEQUENCE_OF = TypedSequenceOf<T, universal(16)>;
template <class T, class Constraint = EmptyConstraint>
using SET_OF = TypedSequenceOf<T, universal(17)>;

}  // namespace ASN1
