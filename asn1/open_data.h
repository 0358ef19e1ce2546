#pragma once
// Open types: a contained value, its encoded octets, or both. No schema of the system
// uses them; the PER coder carries extensions as open-type encodings without them.

#include <memory>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

class OpenData : public AbstractData {
public:
  static OpenInfo const theInfo;
  explicit OpenData(void const* info = &theInfo) : AbstractData(info) {}
  // Takes over `data`.
  OpenData(AbstractData* data, void const* info) : AbstractData(info), m_data(data) {}
  OpenData(OpenData const& other);
  OpenData& operator=(OpenData const&) = delete;
  void swap(OpenData& other);

  static AbstractData* create(void const* info) { return new OpenData(info); }

  bool has_data() const { return m_data != nullptr; }
  AbstractData& get_data() { return *m_data; }
  AbstractData const& get_data() const { return *m_data; }
  bool has_buf() const { return m_buffer != nullptr; }
  std::vector<char>& get_buf() { return *m_buffer; }
  std::vector<char> const& get_buf() const { return *m_buffer; }
  // Takes over `buffer` as the octets.
  void grab(std::vector<char>* buffer) { m_buffer.reset(buffer); }
  bool isEmpty() const { return !has_data() && !has_buf(); }
  bool isStrictlyValid() const { return !isEmpty(); }
  bool isValid() const { return !isEmpty(); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  std::unique_ptr<AbstractData> m_data;
  std::unique_ptr<std::vector<char>> m_buffer;
};

// An open type whose contained value has a type fixed by its record.
class TypeConstrainedOpenData : public OpenData {
public:
  TypeConstrainedOpenData(AbstractData* data, void const* info) : OpenData(data, info) {}
  static AbstractData* create(void const* info);

protected:
  bool do_accept(Visitor& visitor) override;
};

}  // namespace ASN1
