#include "foundation/packet.h"

#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <sstream>

#include "foundation/fatal.h"

#if defined(__SANITIZE_ADDRESS__)
#define GW_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_ASAN 1
#endif
#endif

#ifdef GW_ASAN
#include <sanitizer/asan_interface.h>
#define GW_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define GW_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define GW_POISON(p, n) ((void)(p), (void)(n))
#define GW_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

void SmartPtrAssertion() { fatal_report("SMART POINTER ASSERTION!", std::clog); }

namespace {

// The fixed pool. Its storage is zeroed static memory, built on first use and never
// destroyed, so packets held by static objects stay valid until the process is gone.
// Free blocks are reused first in, first out; their buffers are poisoned for the address
// sanitizer so that a stale pointer into a released packet is caught.
class Pool {
public:
  static Pool& instance();

  _Packet* allocate() {
    _Packet* const block = m_free.remove_from_head();
    if (block) GW_UNPOISON(block->buffer, sizeof block->buffer);
    return block;
  }

  void deallocate(_Packet* block) {
    GW_POISON(block->buffer, sizeof block->buffer);
    m_free.insert_to_tail(block);
  }

  unsigned free_count() const { return m_free.count(); }

private:
  Pool() {
    for (_Packet& block : m_blocks) {
      GW_POISON(block.buffer, sizeof block.buffer);
      m_free.insert_to_tail(&block);
    }
  }

  F_dual_list<_Packet> m_free;
  _Packet m_blocks[packet_pool_size];
};

alignas(Pool) unsigned char g_pool_storage[sizeof(Pool)];

Pool& Pool::instance() {
  static Pool* const pool = new (g_pool_storage) Pool;
  return *pool;
}

// Builds the pool during static initialisation, before any allocation can be timed.
[[maybe_unused]] Pool& g_pool_init = Pool::instance();

}  // namespace

_Packet::_Packet(_Packet const& other)
    : F_dual_list_item<_Packet>(),
      data(buffer + (other.data - other.buffer)),
      tail(buffer + (other.tail - other.buffer)) {
  std::memcpy(data, other.data, static_cast<std::size_t>(other.tail - other.data));
}

void* _Packet::operator new(std::size_t) {
  if (_Packet* block = Pool::instance().allocate()) return block;
  throw std::bad_alloc();
}

void _Packet::operator delete(void* block) { Pool::instance().deallocate(static_cast<_Packet*>(block)); }

unsigned Packet::pool_free() { return Pool::instance().free_count(); }

void Packet::assertion_failed(char const* message) const {
  std::ostringstream report;
  report << "PACKET ASSERTION FAILED!\n" << message << '\n' << PacketInfo(*this) << '\n';
  std::string text = report.str();
  text.pop_back();  // fatal_report ends the last line itself
  fatal_report(text, std::clog);
}

void Packet::check(char const* op) const {
  char const* problem = nullptr;
  if (!m_target)
    problem = "after \"%s\" packet is null";
  else if (m_target->data < m_target->begin() || m_target->data > m_target->end())
    problem = "after \"%s\" fdata invalid";
  else if (m_target->tail < m_target->begin() || m_target->tail > m_target->end())
    problem = "after \"%s\" ftail invalid";
  else if (m_target->data > m_target->tail)
    problem = "after \"%s\" fdata>ftail";
  if (!problem) return;
  char text[256];
  std::snprintf(text, sizeof text, problem, op);
  fatal_report(std::string("packet check fail\n") + text + "\nterminate.", std::clog);
}

bool Packet::pointers_valid() const {
  return m_target->data >= m_target->begin() && m_target->tail <= m_target->end() && m_target->data <= m_target->tail;
}

_Packet& Packet::modify() {
  _Packet& current = *get_checked();
  if (current.m_refcount <= 1) return current;
  // Take the copy before letting go, so an empty pool leaves this handle as it was.
  Packet copy;
  copy.m_target = new _Packet(current);
  copy.m_target->m_refcount = 1;
  std::swap(m_target, copy.m_target);
  return *m_target;
}

unsigned Packet::tailroom() const {
  passert(!null(), "null packet");
  return _tailroom();
}

unsigned Packet::_length() const { return unsigned(get_checked()->tail - m_target->data); }
unsigned Packet::_headroom() const { return unsigned(get_checked()->data - m_target->begin()); }
unsigned Packet::_tailroom() const { return unsigned(get_checked()->end() - m_target->tail); }

std::uint8_t* Packet::data() {
  passert(!null(), "null packet");
  return modify().data;
}

std::uint8_t* Packet::tail() {
  passert(!null(), "null packet");
  return modify().tail;
}

std::uint8_t const* Packet::cdata() const {
  passert(!null(), "null packet");
  return m_target->data;
}

void Packet::reserve_head(unsigned n) {
  passert(n <= packet_max_size, "length>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    m_target->data = m_target->tail = m_target->begin() + n;
    return;
  }
  passert(n <= _tailroom(), "new_len>packet_max_size");
  _Packet& p = modify();
  p.data += n;
  p.tail += n;
}

void Packet::reserve_tail(unsigned n) {
  passert(n <= packet_max_size, "len>packet_max_size");
  if (null()) {
    Smart_pointer<_Packet>::operator=(new _Packet);
    passert(!null(), "allocation fail");
    m_target->data = m_target->tail = m_target->end() - n;
    return;
  }
  passert(n <= _headroom(), "_tailroom()+len <= packet_max_size");
  _Packet& p = modify();
  p.data -= n;
  p.tail -= n;
}

std::uint8_t* Packet::put(unsigned n) {
  passert(!null(), "null packet");
  passert(n <= _tailroom(), "len<=_tailroom()");
  _Packet& p = modify();
  std::uint8_t* const old_tail = p.tail;
  p.tail += n;
  check("put");
  return old_tail;
}

void Packet::put8(std::uint8_t b) { *put(1) = b; }

void Packet::put16(std::uint16_t v) {
  std::uint8_t* const at = put(2);
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

void Packet::put16_b(std::uint16_t v) {
  std::uint8_t* const at = put(2);
  at[0] = static_cast<std::uint8_t>(v >> 8);
  at[1] = static_cast<std::uint8_t>(v);
}

void Packet::put(Packet const& other) {
  unsigned const n = other.length();
  if (n == 0) return;
  // Read through the other's own buffer: appending a packet to itself must see the old bytes.
  Packet const source = other;
  std::memcpy(put(n), source.cdata(), n);
}

void Packet::put(std::string const& s) {
  std::size_t const n = s.size() < 255 ? s.size() : 255;
  put8(static_cast<std::uint8_t>(n));
  if (n) std::memcpy(put(static_cast<unsigned>(n)), s.data(), n);
}

std::uint8_t* Packet::push(unsigned n) {
  passert(!null(), "null packet");
  passert(n <= _headroom(), "len<=_headroom()");
  _Packet& p = modify();
  p.data -= n;
  check("push");
  return p.data;
}

void Packet::push8(std::uint8_t b) { *push(1) = b; }

void Packet::push16_b(std::uint16_t v) {
  push8(static_cast<std::uint8_t>(v));
  push8(static_cast<std::uint8_t>(v >> 8));
}

std::uint8_t* Packet::pull(unsigned n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet& p = modify();
  std::uint8_t* const old_data = p.data;
  p.data += n;
  return old_data;
}

std::uint8_t Packet::pull8() {
  passert(!null(), "null packet");
  if (_length() == 0) return 0;
  return *pull(1);
}

std::uint16_t Packet::pull16() {
  std::uint16_t const low = pull8();
  return static_cast<std::uint16_t>(low | (pull8() << 8));
}

std::uint16_t Packet::pull16_b() {
  std::uint16_t const high = pull8();
  return static_cast<std::uint16_t>((high << 8) | pull8());
}

std::string Packet::pull_string() {
  unsigned const n = pull8();
  std::string s;
  s.reserve(n);
  for (unsigned i = 0; i < n; ++i) s.push_back(static_cast<char>(pull8()));
  return s;
}

std::uint8_t* Packet::trim(unsigned n) {
  passert(!null(), "null packet");
  passert(n <= _length(), "len<=_length()");
  _Packet& p = modify();
  p.tail -= n;
  check("trim");
  return p.tail;
}

std::uint8_t& Packet::operator[](int i) {
  passert(!null(), "null packet");
  passert(i >= 0 && unsigned(i) < _length(), "index out of range");
  return modify().data[i];
}

std::uint8_t Packet::operator[](int i) const {
  passert(!null(), "null packet");
  passert(i >= 0 && unsigned(i) < _length(), "index out of range");
  return m_target->data[i];
}

Packet Packet::sub(unsigned len, unsigned start) {
  passert(!null(), "null packet");
  passert(start <= _length(), "start<=_length()");
  passert(len <= _length() - start, "start+len<=_length()");
  Packet part = *this;
  _Packet& p = part.modify();
  p.data += start;
  p.tail = p.data + len;
  return part;
}

std::string Packet::text() const {
  if (null()) return "(null)";
  if (!pointers_valid()) return "(bad)";
  std::string out;
  out.reserve(length() * 3);
  char digits[4];
  for (std::uint8_t const* at = m_target->data; at < m_target->tail; ++at) {
    if (at != m_target->data) out.push_back(' ');
    std::snprintf(digits, sizeof digits, "%02X", *at);
    out += digits;
  }
  return out;
}

bool Packet::dump(std::ostream& os) const {
  if (null()) return false;
  os << std::dec << "head=" << _headroom() << ", " << "data=" << _length() << ", " << "tail=" << _tailroom();
  return true;
}

bool Packet::dump_context(std::ostream& os) {
  if (null() || !pointers_valid()) return false;
  if (empty()) return true;
  os << "dump:" << std::hex;
  for (std::uint8_t const* at = m_target->data; at < m_target->tail; ++at) os << ' ' << unsigned(*at);
  return true;
}

std::ostream& operator<<(std::ostream& os, Packet const& p) { return os << p.text(); }

PacketInfo::PacketInfo(Packet const& p) : m_null(p.null()) {
  if (m_null) return;
  m_head = p._headroom();
  m_length = p._length();
  m_tail = p._tailroom();
  m_valid = p.pointers_valid();
  if (m_valid && m_length) m_bytes.assign(p.cdata(), p.cdata() + m_length);
}

void PacketInfo::put(std::ostream& os) const {
  if (m_null) {
    os << "(null)" << std::endl;
    return;
  }
  os << std::dec << "head=" << m_head << ", " << "data=" << m_length << ", " << "tail=" << m_tail << std::endl;
  if (!m_valid) {
    os << "can't dump packet: wrong pointers" << std::endl;
    return;
  }
  if (m_bytes.empty()) return;
  os << "dump:" << std::endl << std::hex;
  for (std::uint8_t b : m_bytes) os << ' ' << unsigned(b);
  os << std::dec << std::endl;
}

std::ostream& operator<<(std::ostream& os, PacketInfo const& info) {
  info.put(os);
  return os;
}
