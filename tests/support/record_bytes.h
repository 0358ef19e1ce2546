#pragma once
// A driver record as the bytes a test expects, each field put at its byte offset in the
// host's byte order. The stand-in and the daemon share the record structs, so expected
// bytes built from those structs would pass whatever their layout.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace test {

class RecordBytes {
public:
  explicit RecordBytes(std::size_t size) : m_bytes(size, '\0') {}

  RecordBytes& u32(std::size_t offset, std::uint32_t value) { return put(offset, value); }
  RecordBytes& u8(std::size_t offset, std::uint8_t value) { return put(offset, value); }

  std::string const& str() const { return m_bytes; }

private:
  template <class Field>
  RecordBytes& put(std::size_t offset, Field value) {
    if (offset > m_bytes.size() || m_bytes.size() - offset < sizeof value)
      throw std::out_of_range("a field past the record's end");
    std::memcpy(m_bytes.data() + offset, &value, sizeof value);
    return *this;
  }

  std::string m_bytes;
};

}  // namespace test
