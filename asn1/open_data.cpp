#include "asn1/open_data.h"

#include "asn1/visitor.h"

namespace ASN1 {

OpenInfo const OpenData::theInfo{{&OpenData::create, 0}};

OpenData::OpenData(OpenData const& other)
    : AbstractData(other),
      m_data(other.m_data ? other.m_data->clone() : nullptr),
      m_buffer(other.m_buffer ? new std::vector<char>(*other.m_buffer) : nullptr) {}

void OpenData::swap(OpenData& other) {
  m_data.swap(other.m_data);
  m_buffer.swap(other.m_buffer);
}

int OpenData::do_compare(AbstractData const& other_data) const {
  auto const& other = static_cast<OpenData const&>(other_data);
  if (has_data() && other.has_data()) return m_data->compare(*other.m_data);
  if (has_buf() && other.has_buf()) {
    auto const* a = reinterpret_cast<unsigned char const*>(m_buffer->data());
    auto const* b = reinterpret_cast<unsigned char const*>(other.m_buffer->data());
    return lexicographic_compare_bytes(a, a + m_buffer->size(), b, b + other.m_buffer->size());
  }
  if (isEmpty() && other.isEmpty()) return 0;
  return has_data() ? 1 : -1;
}

AbstractData* OpenData::do_clone() const {
  OpenData* copy = create_same<OpenData>();
  OpenData contents(*this);
  copy->swap(contents);
  return copy;
}

bool OpenData::do_accept(Visitor& visitor) { return visitor.visit(*this); }
bool OpenData::do_accept(ConstVisitor& visitor) const { return visitor.visit(*this); }

AbstractData* TypeConstrainedOpenData::create(void const* info) {
  return new TypeConstrainedOpenData(AbstractData::create(record<TypeConstrainedOpenInfo>(info).constraint), info);
}

bool TypeConstrainedOpenData::do_accept(Visitor& visitor) { return visitor.visit(*this); }

}  // namespace ASN1
