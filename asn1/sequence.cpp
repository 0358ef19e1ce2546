#include "asn1/sequence.h"

#include <algorithm>

#include "asn1/visitor.h"

namespace ASN1 {

unsigned const SEQUENCE::defaultTag = 0;

SEQUENCE::BitMap& SEQUENCE::BitMap::operator=(BitMap const& other) {
  if (this == &other) return *this;
  resize(other.m_bits);
  std::copy(other.octets(), other.octets() + (m_bits + 7) / 8, octets());
  return *this;
}

void SEQUENCE::BitMap::resize(unsigned bits) {
  if (bits == m_bits) return;
  unsigned const old_octets = (m_bits + 7) / 8;
  unsigned const new_octets = (bits + 7) / 8;
  if (new_octets > kInlineOctets && !m_heap) {
    std::unique_ptr<unsigned char[]> grown(new unsigned char[new_octets]());
    std::copy(m_inline, m_inline + old_octets, grown.get());
    m_heap = std::move(grown);
  } else if (m_heap && new_octets > old_octets) {
    std::unique_ptr<unsigned char[]> grown(new unsigned char[new_octets]());
    std::copy(m_heap.get(), m_heap.get() + old_octets, grown.get());
    m_heap = std::move(grown);
  }
  unsigned char* const o = octets();
  if (new_octets > old_octets) std::fill(o + old_octets, o + new_octets, 0);
  m_bits = bits;
  // Bits past the count read as absent and stay 0.
  if (bits & 7) o[new_octets - 1] = static_cast<unsigned char>(o[new_octets - 1] & (0xFF00 >> (bits & 7)));
}

void SEQUENCE::BitMap::set(unsigned i) {
  if (i < m_bits) octets()[i >> 3] = static_cast<unsigned char>(octets()[i >> 3] | (0x80 >> (i & 7)));
}

void SEQUENCE::BitMap::clear(unsigned i) {
  if (i < m_bits) octets()[i >> 3] = static_cast<unsigned char>(octets()[i >> 3] & ~(0x80 >> (i & 7)));
}

bool SEQUENCE::BitMap::any() const {
  unsigned char const* const o = octets();
  return std::any_of(o, o + (m_bits + 7) / 8, [](unsigned char c) { return c != 0; });
}

void SEQUENCE::BitMap::swap(BitMap& other) {
  std::swap(m_bits, other.m_bits);
  std::swap(m_inline, other.m_inline);
  m_heap.swap(other.m_heap);
}

SEQUENCE::SEQUENCE(void const* info)
    : AbstractData(info), m_optional(record<SequenceInfo>(info).optional_count) {
  SequenceInfo const& r = sequence_info();
  m_fields.resize_for_overwrite(r.root_count + r.extension_count);
  AbstractData** const fields = m_fields.data();
  for (unsigned i = 0; i < r.root_count; ++i)
    fields[i] = r.field_ids[i] < 0 ? AbstractData::create(r.fields[i]) : nullptr;
  for (unsigned k = 0; k < r.extension_count; ++k) fields[r.root_count + k] = nullptr;
  if (r.default_extensions) {
    m_extensions.resize(r.extension_count);
    for (unsigned k = 0; k < r.extension_count; ++k) {
      if (r.default_extensions[k >> 3] & (0x80 >> (k & 7))) {
        m_extensions.set(k);
        m_fields[r.root_count + k] = AbstractData::create(r.fields[r.root_count + k]);
      }
    }
  }
}

SEQUENCE::SEQUENCE(SEQUENCE const& other)
    : AbstractData(other), m_optional(other.m_optional), m_extensions(other.m_extensions) {
  copy_fields_from(other);
}

SEQUENCE& SEQUENCE::operator=(SEQUENCE const& other) {
  if (this != &other) {
    SEQUENCE copy(other);
    swap(copy);
  }
  return *this;
}

SEQUENCE::~SEQUENCE() {
  for (AbstractData* field : m_fields) delete field;
}

void SEQUENCE::delete_fields() {
  for (AbstractData* field : m_fields) delete field;
  m_fields.clear();
}

void SEQUENCE::copy_fields_from(SEQUENCE const& other) {
  m_fields.resize(other.m_fields.size());
  for (unsigned i = 0; i < m_fields.size(); ++i) m_fields[i] = other.m_fields[i] ? other.m_fields[i]->clone() : nullptr;
}

void SEQUENCE::swap(SEQUENCE& other) {
  m_fields.swap(other.m_fields);
  m_optional.swap(other.m_optional);
  m_extensions.swap(other.m_extensions);
}

unsigned SEQUENCE::getFieldTag(unsigned i) const {
  unsigned const* const tags = sequence_info().tags;
  if (!tags) return context(i);
  if (tags == &defaultTag) return record<TypeInfo>(sequence_info().fields[i]).tag;
  return tags[i];
}

int SEQUENCE::tagMode() const {
  unsigned const* const tags = sequence_info().tags;
  return !tags ? 0 : tags == &defaultTag ? 2 : 1;
}

void SEQUENCE::includeOptionalField(unsigned optional, unsigned index) {
  if (optional < m_optional.size()) {
    m_optional.set(optional);
  } else {
    unsigned const bit = optional - m_optional.size();
    if (m_extensions.size() <= bit) m_extensions.resize(bit + 1);
    m_extensions.set(bit);
  }
  makeField(index);
}

void SEQUENCE::removeOptionalField(unsigned optional) {
  if (optional < m_optional.size())
    m_optional.clear(optional);
  else
    m_extensions.clear(optional - m_optional.size());
}

int SEQUENCE::do_compare(AbstractData const& other_data) const {
  auto const& other = static_cast<SEQUENCE const&>(other_data);
  SequenceInfo const& r = sequence_info();
  auto compare_field = [&](unsigned index, bool mine, bool theirs) {
    if (mine && theirs) return m_fields[index]->compare(*other.m_fields[index]);
    return int(mine) - int(theirs);
  };
  for (unsigned i = 0; i < r.root_count; ++i) {
    int const id = r.field_ids[i];
    bool const mandatory = id < 0;
    int const result = compare_field(i, mandatory || hasOptionalField(static_cast<unsigned>(id)),
                                     mandatory || other.hasOptionalField(static_cast<unsigned>(id)));
    if (result) return result;
  }
  for (unsigned k = 0; k < r.extension_count; ++k) {
    unsigned const optional = r.optional_count + k;
    int const result = compare_field(r.root_count + k, hasOptionalField(optional), other.hasOptionalField(optional));
    if (result) return result;
  }
  return 0;
}

AbstractData* SEQUENCE::do_clone() const {
  SEQUENCE* copy = create_same<SEQUENCE>();
  copy->delete_fields();
  copy->copy_fields_from(*this);
  copy->m_optional = m_optional;
  copy->m_extensions = m_extensions;
  return copy;
}

bool SEQUENCE::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool SEQUENCE::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

}  // namespace ASN1
