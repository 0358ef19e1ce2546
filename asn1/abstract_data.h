#pragma once
// The base of every ASN.1 value. A value knows its type only through its record; the
// generated message classes are typed views that add accessors and no data. Setting a
// value never checks ranges, sizes or characters: the encoders do.

#include <bit>
#include <cstddef>
#include <ios>
#include <iosfwd>
#include <string>

#include "asn1/records.h"
#include "asn1/value_pool.h"

namespace ASN1 {

class Visitor;
class ConstVisitor;

class AbstractData {
public:
  virtual ~AbstractData() = default;

  // Values come and go by the dozen with every message: blocks of the sizes values have
  // are kept on free lists of their own instead of going back to the general heap.
  static void* operator new(std::size_t size) { return value_pool::take(size); }
  static void operator delete(void* block, std::size_t size) { value_pool::give(block, size); }

  // A new value of the record's type, or null for a null record.
  static AbstractData* create(void const* info) { return info ? record<TypeInfo>(info).create(info) : nullptr; }

  // Zero when equal; the sign orders values of one type as each kind defines.
  int compare(AbstractData const& other) const { return do_compare(other); }
  bool operator==(AbstractData const& other) const { return compare(other) == 0; }
  bool operator!=(AbstractData const& other) const { return compare(other) != 0; }

  // A deep copy of the same class, bound to the same record.
  AbstractData* clone() const { return do_clone(); }

  bool accept(Visitor& visitor) { return do_accept(visitor); }
  bool accept(ConstVisitor& visitor) const { return do_accept(visitor); }

  void const* info() const { return m_info; }
  unsigned getTag() const { return header().tag; }

  // Value notation: the good state, or failbit when the value cannot be printed.
  std::ios_base::iostate print_on(std::ostream& os) const;
  std::string asValueNotation() const;
  // Reads value notation as print_on writes it: the good state, or failbit.
  std::ios_base::iostate get_from(std::istream& is);
  bool setFromValueNotation(std::string const& text);

  // Whether the value fits its type, extensions allowed; strictly: fits the type's root.
  bool isValid() const;
  bool isStrictlyValid() const;

protected:
  explicit AbstractData(void const* info) : m_info(info) {}
  AbstractData(AbstractData const&) = default;
  // Assignment copies content only: a value keeps its record.
  AbstractData& operator=(AbstractData const&) { return *this; }

  TypeInfo const& header() const { return record<TypeInfo>(m_info); }

  // Makes a fresh value of this one's class through the record, for clones.
  template <class Kind>
  Kind* create_same() const {
    return static_cast<Kind*>(create(m_info));
  }

  virtual int do_compare(AbstractData const& other) const = 0;
  virtual AbstractData* do_clone() const = 0;
  virtual bool do_accept(Visitor& visitor) = 0;
  virtual bool do_accept(ConstVisitor& visitor) const = 0;

private:
  void const* m_info;
};

std::ostream& operator<<(std::ostream& os, AbstractData const& value);
std::istream& operator>>(std::istream& is, AbstractData& value);

// A value whose record carries a constraint (range or size).
class ConstrainedObject : public AbstractData {
public:
  unsigned getConstraintType() const { return constraint().type; }
  int getLowerLimit() const { return constraint().lower; }
  unsigned getUpperLimit() const { return constraint().upper; }
  bool constrained() const { return getConstraintType() != Unconstrained; }
  bool extendable() const { return getConstraintType() == ExtendableConstraint; }
  ConstrainedInfo const& constraint() const { return record<ConstrainedInfo>(info()); }

protected:
  using AbstractData::AbstractData;
};

// Bits needed to number `range` distinct values; 32 for 0 (a range of 2^32). Every
// constrained number and length of the PER coder asks for it.
inline unsigned CountBits(unsigned range) { return static_cast<unsigned>(std::bit_width(range - 1u)); }

int lexicographic_compare_bytes(unsigned char const* begin1, unsigned char const* end1, unsigned char const* begin2,
                                unsigned char const* end2);

// The signed difference a - b of two 32-bit values, taken without overflow.
inline int wrapping_difference(int a, int b) { return static_cast<int>(static_cast<unsigned>(a) - static_cast<unsigned>(b)); }

}  // namespace ASN1
