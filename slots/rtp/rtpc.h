#pragma once
// The two RTCP packets (RFC 3550) an RTP slot sends itself: a source description when its
// session starts and a goodbye when it goes. Everything else of RTP and RTCP is the
// driver's. Each packet encodes into a caller's buffer and never writes past its size.

#include <cstdint>
#include <string>
#include <vector>

namespace RTPC {

class Msg {
public:
  virtual ~Msg() = default;
  virtual unsigned pt() const = 0;
  // The 5-bit count of the first header byte.
  virtual unsigned count() const = 0;
  // Writes what follows the 4-byte common header; the bytes written, 0 when it cannot.
  virtual unsigned encode_body(char* buf, unsigned size) const = 0;

  // The packet's length, a multiple of 4, or 0 when it does not fit in `size`. Only
  // whole 32-bit words of the buffer are used: the padding never passes its end.
  unsigned encode(char* buf, unsigned size) const;
};

class SDES : public Msg {
public:
  class Item {
  public:
    enum Type : std::uint8_t { CNAME = 1, NAME = 2, EMAIL = 3, PHONE = 4, LOC = 5, TOOL = 6, NOTE = 7, PRIV = 8 };
    Item(Type type, std::string text) : m_type(type), m_text(std::move(text)) {}
    Type type() const { return m_type; }
    std::string const& text() const { return m_text; }

  private:
    Type m_type;
    std::string m_text;
  };

  explicit SDES(std::uint32_t ssrc) : m_ssrc(ssrc) {}
  void add(Item::Type type, std::string text) { m_items.emplace_back(type, std::move(text)); }

  unsigned pt() const override { return 202; }
  unsigned count() const override { return 1; }
  unsigned encode_body(char* buf, unsigned size) const override;

private:
  std::uint32_t m_ssrc;
  std::vector<Item> m_items;
};

class BYE : public Msg {
public:
  BYE(std::uint32_t ssrc, std::string reason) : m_ssrc(ssrc), m_reason(std::move(reason)) {}

  unsigned pt() const override { return 203; }
  unsigned count() const override { return 1; }
  unsigned encode_body(char* buf, unsigned size) const override;

private:
  std::uint32_t m_ssrc;
  std::string m_reason;
};

}  // namespace RTPC
