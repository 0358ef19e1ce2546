#pragma once
// Packets: handles on reference-counted, copy-on-write buffers of 65536 data bytes with
// room in front (for lower-layer headers) and behind (for appended data). Buffers come
// only from one fixed pool of 1024 blocks; an empty pool throws std::bad_alloc. A broken
// packet invariant is never survived: it is reported and the process ends.

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/dual_list.h"
#include "foundation/smart_pointer.h"

inline constexpr unsigned packet_max_size = 65536;
inline constexpr unsigned packet_pool_size = 1024;

class _Packet : public F_dual_list_item<_Packet> {
public:
  _Packet() : data(buffer + packet_max_size), tail(buffer + packet_max_size) {}
  // Same head room and length; only the data bytes are copied. The count is the caller's.
  _Packet(_Packet const& other);
  _Packet& operator=(_Packet const&) = delete;

  static void* operator new(std::size_t size);
  static void operator delete(void* block);

  std::uint8_t* begin() { return buffer; }
  std::uint8_t* end() { return buffer + packet_max_size; }
  std::uint8_t const* begin() const { return buffer; }
  std::uint8_t const* end() const { return buffer + packet_max_size; }

  unsigned m_refcount = 0;
  std::uint8_t* data;
  std::uint8_t* tail;
  std::uint8_t buffer[packet_max_size];
};

class Packet : public Smart_pointer<_Packet> {
public:
  Packet() = default;

  // Releases the buffer; the packet is null afterwards.
  void clear() { remove_current(); }
  bool null() const { return m_target == nullptr; }
  unsigned length() const { return m_target ? unsigned(m_target->tail - m_target->data) : 0; }
  bool empty() const { return length() == 0; }
  bool operator<(unsigned n) const { return length() < n; }
  unsigned tailroom() const;

  unsigned _length() const;
  unsigned _headroom() const;
  unsigned _tailroom() const;

  std::uint8_t* data();
  std::uint8_t* tail();
  std::uint8_t const* cdata() const;  // read-only view: never copies a shared buffer

  void reserve_head(unsigned n);
  void reserve_tail(unsigned n);

  std::uint8_t* put(unsigned n);
  void put8(std::uint8_t b);
  void put16(std::uint16_t v);
  void put16_b(std::uint16_t v);
  void put(Packet const& p);
  // One length byte, then the bytes; a text longer than 255 bytes is cut to 255 so that
  // the length byte always tells the truth.
  void put(std::string const& s);

  std::uint8_t* push(unsigned n);
  void push8(std::uint8_t b);
  void push16_b(std::uint16_t v);

  std::uint8_t* pull(unsigned n);
  std::uint8_t pull8();
  std::uint16_t pull16();
  std::uint16_t pull16_l() { return pull16(); }
  std::uint16_t pull16_b();
  std::string pull_string();

  std::uint8_t* trim(unsigned n);

  std::uint8_t& operator[](int i);
  std::uint8_t operator[](int i) const;

  Packet sub(unsigned len, unsigned start);

  std::string text() const;
  bool dump(std::ostream& os) const;
  bool dump_context(std::ostream& os);

  // Number of free blocks in the pool.
  static unsigned pool_free();

  void passert(bool condition, char const* message) const {
    if (!condition) assertion_failed(message);
  }
  // data and tail lie inside the buffer, in order.
  bool pointers_valid() const;

private:
  [[noreturn]] void assertion_failed(char const* message) const;
  void check(char const* op) const;
  // Gives this handle a private buffer before a modification (copy on write).
  _Packet& modify();
};

std::ostream& operator<<(std::ostream& os, Packet const& p);

// A snapshot of a packet for the assertion report.
class PacketInfo {
public:
  explicit PacketInfo(Packet const& p);
  void put(std::ostream& os) const;

private:
  bool m_null;
  bool m_valid = false;
  unsigned m_head = 0;
  unsigned m_length = 0;
  unsigned m_tail = 0;
  std::vector<std::uint8_t> m_bytes;
};

std::ostream& operator<<(std::ostream& os, PacketInfo const& info);
