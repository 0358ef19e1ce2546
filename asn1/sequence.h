#pragma once
// SEQUENCE and SET values: one slot per field (root fields, then the known extensions),
// absent fields empty; a bit map of the optional root fields and one of the extensions.
// Optional and extension fields cost nothing until included.

#include "asn1/abstract_data.h"
#include "asn1/pointer_array.h"

namespace ASN1 {

class SEQUENCE : public AbstractData {
public:
  // Presence bits, first bit in the top of the first octet (the order PER writes them).
  class BitMap {
  public:
    BitMap() = default;
    // `bits` absent bits.
    explicit BitMap(unsigned bits) {
      if (bits <= 8 * kInlineOctets)
        m_bits = bits;
      else
        resize(bits);
    }
    BitMap(BitMap const& other) { *this = other; }
    BitMap& operator=(BitMap const& other);
    unsigned size() const { return m_bits; }
    void resize(unsigned bits);
    bool operator[](unsigned i) const { return i < m_bits && (octets()[i >> 3] & (0x80 >> (i & 7))); }
    void set(unsigned i);
    void clear(unsigned i);
    bool any() const;
    unsigned char* octets() { return m_heap ? m_heap.get() : m_inline; }
    unsigned char const* octets() const { return m_heap ? m_heap.get() : m_inline; }
    void swap(BitMap& other);

  private:
    static constexpr unsigned kInlineOctets = 16;  // 128 bits: the decoder's limit
    unsigned m_bits = 0;
    unsigned char m_inline[kInlineOctets] = {};
    std::unique_ptr<unsigned char[]> m_heap;
  };

  // Tag table marker: every field keeps its own type's tag.
  static unsigned const defaultTag;

  explicit SEQUENCE(void const* info);
  SEQUENCE(SEQUENCE const& other);
  SEQUENCE& operator=(SEQUENCE const& other);
  ~SEQUENCE() override;
  void swap(SEQUENCE& other);

  static AbstractData* create(void const* info) { return new SEQUENCE(info); }

  SequenceInfo const& sequence_info() const { return record<SequenceInfo>(info()); }
  bool extendable() const { return sequence_info().extendable; }
  unsigned rootCount() const { return sequence_info().root_count; }
  unsigned fieldCount() const { return m_fields.size(); }

  AbstractData* getField(unsigned i) { return m_fields[i]; }
  AbstractData const* getField(unsigned i) const { return m_fields[i]; }
  // The field, created from its record when its slot is empty.
  AbstractData& makeField(unsigned i) {
    AbstractData*& field = m_fields[i];
    if (!field) field = AbstractData::create(sequence_info().fields[i]);
    return *field;
  }
  char const* getFieldName(unsigned i) const { return sequence_info().names[i]; }
  unsigned getFieldTag(unsigned i) const;
  // 0 automatic tags, 1 a tag table, 2 each field's own tag.
  int tagMode() const;

  // Optional root fields first, then the extensions.
  bool hasOptionalField(unsigned optional) const {
    unsigned const roots = m_optional.size();
    return optional < roots ? m_optional[optional] : m_extensions[optional - roots];
  }
  void includeOptionalField(unsigned optional, unsigned index);
  void removeOptionalField(unsigned optional);

  BitMap& optionalMap() { return m_optional; }
  BitMap const& optionalMap() const { return m_optional; }
  BitMap& extensionMap() { return m_extensions; }
  BitMap const& extensionMap() const { return m_extensions; }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  static constexpr unsigned kInlineFields = 32;
  void delete_fields();
  void copy_fields_from(SEQUENCE const& other);

  PointerArray<kInlineFields> m_fields;
  BitMap m_optional;
  BitMap m_extensions;
};

}  // namespace ASN1
