#pragma once
// TPKT framing (RFC 1006) above the stream layer: a 4-byte header in front of each
// message going down; frames reassembled from whatever pieces arrive, one body handed up
// per frame. Framing errors never close the link: they are logged and the receiver
// looks for the next version byte; a frame left incomplete for 3000 ms is dropped.

#include <cstdint>

#include "foundation/packet.h"
#include "foundation/timer.h"
#include "protocol/protocol.h"

class Tpkt_protocol : public Protocol {
public:
  enum State { idle = 0, wait_reserved = 1, length_high = 2, length_low = 3, body = 4, ignore = 5 };

  static constexpr unsigned kHeaderSize = 4;
  static constexpr unsigned kMaxBody = 65535 - kHeaderSize;
  static constexpr unsigned kReassemblyTimeoutMs = 3000;

  Tpkt_protocol() = default;

  Protocol_name const& name() const override { return m_name; }
  void local_prepare_head(Packet& p) override { p.reserve_head(kHeaderSize); }
  void local_prepare_tail(Packet& p) override { p.reserve_tail(0); }
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;

  void on_timeout(Timer* timer);
  void reset();
  void next_state(State state) { m_state = state; }
  State state() const { return m_state; }

private:
  // Each consumes from [at, end) and returns the new position.
  std::uint8_t const* receive_idle(std::uint8_t const* at);
  std::uint8_t const* receive_wait_r(std::uint8_t const* at);
  std::uint8_t const* receive_len_1(std::uint8_t const* at);
  std::uint8_t const* receive_len_2(std::uint8_t const* at);
  std::uint8_t const* receive_body(std::uint8_t const* at, std::uint8_t const* end);
  std::uint8_t const* receive_ignore(std::uint8_t const* at, std::uint8_t const* end);
  void deliver();

  Protocol_name_str m_name{"TPKT"};
  unsigned m_remaining = 0;
  Timer m_timer;
  State m_state = idle;
  Packet m_assembly;
};
