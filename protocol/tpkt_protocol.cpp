#include "protocol/tpkt_protocol.h"

#include <cstring>
#include <iostream>
#include <new>

#include "foundation/profile.h"

void Tpkt_protocol::reset() {
  m_timer.reset();
  m_assembly.clear();
  m_state = idle;
}

void Tpkt_protocol::local_activate() {
  reset();
  on_activate();
}

void Tpkt_protocol::local_deactivate() {
  reset();
  on_deactivate(ProtocolStatus(new Protocol_status_success(this, "TPKT deactivated")));
}

void Tpkt_protocol::message(Packet& p) {
  static Profile::Point point("Tpkt_protocol::message");
  // A longer body cannot be told in the 16-bit length: never send a wrapped one.
  if (p.length() > kMaxBody) {
    std::cerr << *this << " message too long for a frame: " << p.length() << " bytes dropped" << std::endl;
    return;
  }
  point.begin();
  p.push16_b(static_cast<std::uint16_t>(p.length() + kHeaderSize));
  p.push8(0);
  p.push8(3);
  point.end();
  transmit(p);
}

void Tpkt_protocol::receive(Packet& p) {
  std::uint8_t const* at = p.length() ? p.cdata() : nullptr;
  std::uint8_t const* const end = at + p.length();
  while (at < end) {
    switch (m_state) {
      case idle: at = receive_idle(at); break;
      case wait_reserved: at = receive_wait_r(at); break;
      case length_high: at = receive_len_1(at); break;
      case length_low: at = receive_len_2(at); break;
      case body: at = receive_body(at, end); break;
      case ignore: at = receive_ignore(at, end); break;
    }
  }
  // An incomplete frame gets 3000 ms from its last piece.
  if (m_state != idle)
    m_timer.set(kReassemblyTimeoutMs, &Tpkt_protocol::on_timeout, this);
  else
    m_timer.reset();
}

std::uint8_t const* Tpkt_protocol::receive_idle(std::uint8_t const* at) {
  if (*at == 3)
    m_state = wait_reserved;
  else
    std::clog << *this << " bad TPKT packet start." << std::endl;
  return at + 1;
}

std::uint8_t const* Tpkt_protocol::receive_wait_r(std::uint8_t const* at) {
  if (*at == 0) {
    m_state = length_high;
  } else {
    std::clog << *this << " bad TPKT reserved." << std::endl;
    m_state = idle;
  }
  return at + 1;
}

std::uint8_t const* Tpkt_protocol::receive_len_1(std::uint8_t const* at) {
  m_remaining = unsigned(*at) << 8;
  m_state = length_low;
  return at + 1;
}

std::uint8_t const* Tpkt_protocol::receive_len_2(std::uint8_t const* at) {
  unsigned const length = m_remaining | *at;
  if (length < kHeaderSize) {
    std::clog << "TPKT too small " << std::dec << length << std::endl;
    m_state = idle;
    return at + 1;
  }
  m_remaining = length - kHeaderSize;
  m_assembly.clear();
  try {
    m_assembly.reserve_head(0);
  } catch (std::bad_alloc const&) {
    std::clog << *this << " no packet buffer for a frame of " << std::dec << length << " bytes: body skipped"
              << std::endl;
    m_state = m_remaining ? ignore : idle;
    return at + 1;
  }
  if (m_remaining > m_assembly.tailroom()) {
    std::clog << "TPKT length too big, received = " << std::dec << m_remaining << " max = " << m_assembly.tailroom()
              << std::endl;
    m_assembly.clear();
    m_state = ignore;
    return at + 1;
  }
  m_state = body;
  // An empty body is complete already: hand it up now, not with the next byte.
  if (m_remaining == 0) deliver();
  return at + 1;
}

std::uint8_t const* Tpkt_protocol::receive_body(std::uint8_t const* at, std::uint8_t const* end) {
  unsigned const n = std::min<unsigned>(static_cast<unsigned>(end - at), m_remaining);
  std::memcpy(m_assembly.put(n), at, n);
  m_remaining -= n;
  if (m_remaining == 0) deliver();
  return at + n;
}

std::uint8_t const* Tpkt_protocol::receive_ignore(std::uint8_t const* at, std::uint8_t const* end) {
  unsigned const n = std::min<unsigned>(static_cast<unsigned>(end - at), m_remaining);
  m_remaining -= n;
  if (m_remaining == 0) m_state = idle;
  return at + n;
}

void Tpkt_protocol::deliver() {
  m_state = idle;
  // The body leaves in a handle of its own: the layer above may disconnect (and so reset
  // this layer) from inside, and a shared handle would copy the buffer on first write.
  Packet frame = std::move(m_assembly);
  on_message(frame);
}

void Tpkt_protocol::on_timeout(Timer*) {
  std::clog << " TPKT packet timeout." << std::endl;
  reset();
}
