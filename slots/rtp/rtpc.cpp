#include "slots/rtp/rtpc.h"

#include <algorithm>
#include <cstring>

namespace RTPC {

namespace {

constexpr unsigned kHeader = 4;
constexpr unsigned kMaxText = 255;

void put32(char* at, std::uint32_t value) {
  at[0] = static_cast<char>(value >> 24);
  at[1] = static_cast<char>(value >> 16);
  at[2] = static_cast<char>(value >> 8);
  at[3] = static_cast<char>(value);
}

unsigned round_up4(unsigned n) { return (n + 3) & ~3u; }

// Zero bytes from `length` up to the next multiple of 4.
unsigned pad(char* buf, unsigned length) {
  unsigned const padded = round_up4(length);
  std::memset(buf + length, 0, padded - length);
  return padded;
}

}  // namespace

unsigned Msg::encode(char* buf, unsigned size) const {
  // A packet is whole words: the last word's padding must fit as well.
  size &= ~3u;
  if (size < 8) return 0;
  buf[0] = static_cast<char>(0x80 | (count() & 31));
  buf[1] = static_cast<char>(pt());
  unsigned const length = pad(buf, kHeader + encode_body(buf + kHeader, size - kHeader));
  unsigned const words = length / 4 - 1;
  buf[2] = static_cast<char>(words >> 8);
  buf[3] = static_cast<char>(words);
  return length;
}

unsigned SDES::encode_body(char* buf, unsigned size) const {
  if (size <= 3) return 0;
  put32(buf, m_ssrc);
  unsigned length = 4;
  if (m_items.empty() || size - length <= 7) return length;
  for (Item const& item : m_items) {
    unsigned const n = std::min<unsigned>(static_cast<unsigned>(item.text().size()), kMaxText);
    // Two header bytes, the text, and room for the end marker and the padding.
    if (size - length < round_up4(n + 3)) break;
    buf[length++] = static_cast<char>(item.type());
    buf[length++] = static_cast<char>(n);
    std::memcpy(buf + length, item.text().data(), n);
    length += n;
  }
  buf[length++] = 0;
  return pad(buf, length);
}

unsigned BYE::encode_body(char* buf, unsigned size) const {
  if (size <= 3) return 0;
  put32(buf, m_ssrc);
  unsigned length = 4;
  if (m_reason.empty() || size - length < 2) return length;
  unsigned const n = std::min({static_cast<unsigned>(m_reason.size()), kMaxText, size - 5});
  buf[length++] = static_cast<char>(n);
  std::memcpy(buf + length, m_reason.data(), n);
  return pad(buf, length + n);
}

}  // namespace RTPC
