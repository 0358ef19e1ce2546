#pragma once
// Type-description records: one constant record per ASN.1 type, read by every coder.
// Each kind has its own standard-layout struct whose first member is the common header
// (creation function and tag), so a record's address is also its header's address.
// Records are constant-initialised; values hold a pointer to theirs.

#include <cstdint>

namespace ASN1 {

class AbstractData;

// Builds a new heap value of the record's type, bound to the record; the caller owns it.
using CreateFunction = AbstractData* (*)(void const* info);

// Tag word: class in bits 16-23 (0x00 universal, 0x40 application, 0x80 context, 0xC0
// private), number in bits 0-15.
constexpr unsigned universal(unsigned number) { return number; }
constexpr unsigned context(unsigned number) { return 0x800000u | number; }

enum ConstraintType : unsigned {
  Unconstrained = 0,
  PartiallyConstrained = 1,  // a lower bound only
  FixedConstraint = 2,       // lower..upper
  ExtendableConstraint = 3,  // lower..upper, ...
};

struct TypeInfo {
  CreateFunction create;
  unsigned tag;
};

// INTEGER, OCTET STRING, BIT STRING and the base of every sized kind.
struct ConstrainedInfo {
  TypeInfo header;
  unsigned type;  // ConstraintType
  int lower;
  unsigned upper;
};

struct NameEntry {
  int value;
  char const* name;
};

struct IntegerWithNamedNumberInfo {
  ConstrainedInfo constraint;
  NameEntry const* names;  // sorted by value
  unsigned count;
};

struct EnumeratedInfo {
  TypeInfo header;
  bool extendable;
  int maximum;
  // Names in declaration order; an entry whose value does not follow the previous one
  // carries "=value" after the name.
  char const* const* names;
  unsigned name_count;
};

struct StringInfo {
  ConstrainedInfo constraint;  // the size constraint
  char const* set;             // permitted characters in ascending code order, or null
  unsigned set_size;
  unsigned canonical_bits;
  unsigned unaligned_bits;
  unsigned aligned_bits;
};

struct BMPStringInfo {
  ConstrainedInfo constraint;
  unsigned first;
  unsigned last;
  unsigned unaligned_bits;
  unsigned aligned_bits;
};

struct SequenceInfo {
  TypeInfo header;
  bool extendable;
  void const* const* fields;  // records of the root fields, then of the known extensions
  int const* field_ids;       // per root field: -1 mandatory, else its optional-field number
  unsigned root_count;
  unsigned extension_count;
  unsigned optional_count;
  unsigned char const* default_extensions;  // null, or bits of extensions present from construction
  unsigned const* tags;                     // null: automatic tags
  char const* const* names;
};

struct ChoiceInfo {
  TypeInfo header;
  bool extendable;
  void const* const* alternatives;  // root alternatives, then the known extensions
  unsigned root_count;
  unsigned known_count;
  unsigned const* tags;  // null: automatic tags
  char const* const* names;
};

struct SequenceOfInfo {
  ConstrainedInfo constraint;  // the size constraint
  void const* element;
};

struct OpenInfo {
  TypeInfo header;
};

struct TypeConstrainedOpenInfo {
  TypeInfo header;
  void const* constraint;  // the record of the contained type
};

// A record's view of another kind: records are standard-layout and nest their header first.
template <class Info>
Info const& record(void const* info) {
  return *static_cast<Info const*>(info);
}

}  // namespace ASN1
