// Arbitrary byte streams, cut into arbitrary pieces, into the TPKT receiver. Whatever the
// cuts, it must hand up exactly the bodies that a plain reading of the whole stream
// yields, end in the state that reading ends in, keep its give-up timer armed exactly
// while a frame is incomplete, and give every packet buffer back.
//
// Input: byte 0 holds the number of piece lengths that follow (low four bits) and whether
// they count in units of 256 bytes (bit 4); then those lengths (each byte n stands for
// n + 1), then the stream, handed over in pieces of those lengths in turn. With no
// lengths the stream goes in one piece.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "foundation/multiplexer.h"
#include "protocol/tpkt_protocol.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

struct Reading {
  std::vector<std::string> bodies;
  Tpkt_protocol::State state = Tpkt_protocol::idle;
};

// The framing rules applied to the whole stream at once: a byte other than 3 where a
// frame should start is skipped alone; the byte after a 3 is the reserved byte and is
// consumed even when it is not 0; a length below 4 is skipped; a length of 4 is an empty
// body.
Reading read_whole(std::uint8_t const* s, std::size_t n) {
  Reading r;
  std::size_t i = 0;
  while (i < n) {
    if (s[i] != 3) {
      ++i;
      continue;
    }
    if (i + 1 == n) return {r.bodies, Tpkt_protocol::wait_reserved};
    if (s[i + 1] != 0) {
      i += 2;
      continue;
    }
    if (i + 2 == n) return {r.bodies, Tpkt_protocol::length_high};
    if (i + 3 == n) return {r.bodies, Tpkt_protocol::length_low};
    std::size_t const length = std::size_t(s[i + 2]) << 8 | s[i + 3];
    i += 4;
    if (length < 4) continue;
    std::size_t const size = length - 4;
    if (n - i < size) return {r.bodies, Tpkt_protocol::body};
    r.bodies.emplace_back(reinterpret_cast<char const*>(s + i), size);
    i += size;
  }
  return r;
}

struct Receiver : ProtocolsList {
  Receiver() { tpkt = static_cast<Tpkt_protocol*>(add_protocol_tail(new Tpkt_protocol)); }
  void on_message(Packet& p) override {
    bodies.push_back(p.length() ? std::string(reinterpret_cast<char const*>(p.cdata()), p.length()) : std::string());
  }
  void feed(std::uint8_t const* at, std::size_t n) {
    Packet piece;
    piece.reserve_head(0);
    std::memcpy(piece.put(static_cast<unsigned>(n)), at, n);
    tpkt->receive(piece);
  }
  Tpkt_protocol* tpkt;
  std::vector<std::string> bodies;
};

}  // namespace

// Every framing error is logged; millions of them would drown the fuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static fuzz::NullBuffer null;
  std::clog.rdbuf(&null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::size_t const count = data[0] & 0x0F;
  std::size_t const unit = (data[0] & 0x10) ? 256 : 1;
  if (size < 1 + count) return 0;
  std::uint8_t const* const lengths = data + 1;
  std::uint8_t const* const stream = data + 1 + count;
  std::size_t const n = size - 1 - count;

  unsigned const pool_before = Packet::pool_free();
  {
    Receiver receiver;
    std::size_t at = 0;
    for (std::size_t piece = 0; at < n; ++piece) {
      std::size_t const want = count ? (lengths[piece % count] + std::size_t(1)) * unit : n;
      std::size_t const take = std::min(want, n - at);
      receiver.feed(stream + at, take);
      at += take;
      bool const in_frame = receiver.tpkt->state() != Tpkt_protocol::idle;
      check(multiplexer.pending_timers() == (in_frame ? 1u : 0u));
    }
    Reading const expected = read_whole(stream, n);
    check(receiver.bodies == expected.bodies);
    check(receiver.tpkt->state() == expected.state);
  }
  check(multiplexer.pending_timers() == 0);
  check(Packet::pool_free() == pool_before);
  return 0;
}
