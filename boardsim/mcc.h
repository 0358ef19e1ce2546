#pragma once
// The multichannel HDLC controller, Board::kMccControl. Every open can become one
// controller channel: MCC_ALLOCATE takes a channel of the kind its mode asks for from a
// pool and gives it the lowest free switch port of 1024..1279. The channel, port and
// all, is freed when the last descriptor of its open is closed (a child's copy too).
//
// Frames. A write on a channel is one frame, delivered whole to every allocated channel
// whose port, as an output of the time-slot switch (boardsim/hal.h), is fed straight
// from the writer's port ("connect output=<reader> input=<writer>"); chains of switch
// connections are not followed. A read returns one frame a call: EAGAIN when none is
// queued (a blocking open waits), 0 for a zero-length frame. A child that holds the
// descriptor as its own reads and writes the socket itself, past the stand-in: what it
// writes goes nowhere.
//
// Modes: 0 (data) and 3 (SS7 signalling units) take a data channel, 1 a BRI channel,
// 2 a transparent one (voice players and recorders, software T.38).
//
// A transparent channel is a byte stream: a write of any length is taken whole and at
// once (never EAGAIN: a copier would spin on a descriptor that stays writable), and
// reaches the channels the switch feeds from it cut into records of at most each
// reader's packet size. Every channel counts the bytes written on it and keeps the
// first kKeptBytes of them, for the tests to read back.
//
// The requests of foundation/board_requests.h, logged as:
//   ioctl MCC_ALLOCATE mode=<m> size=<s> reserved=<r> rx=<n> tx=<n>
//       mode above 3, size 0 or above 4096, reserved not 0: EINVAL; a second allocation
//       on one open: EBUSY; no channel of the kind or no port left: ENOSPC
//   ioctl MCC_TIMESLOT value=0x0 result=<port>
//       by value 0 only; on an open without a channel EINVAL
//   ioctl capacity data=<n> bri=<n> transparent=<n>
//       on any open, the free channels of each kind; the record's fourth word 0
// A record request made by value is EFAULT, MCC_TIMESLOT with a record EINVAL, every
// other request ENOTTY. write: no channel EINVAL, longer than the channel's packet size
// EMSGSIZE (but on a transparent channel), 0 bytes does nothing. read: no channel
// EINVAL. The log shows a write's first bytes and its length, a read's length.
//
// Control socket (words after "set mcc/ctl" and "state mcc/ctl"):
//   set mcc/ctl pool <data> <bri> <transparent>   the pool's totals (default 16 8 16);
//                                                 channels in use stay allocated
//   set mcc/ctl <port> inject [<hex>]             queues one frame (no hex: zero-length)
//                                                 for the channel on <port>; longer than
//                                                 its packet size: error
//   state mcc/ctl                                 per allocated channel, by port:
//                                                   port=<p> mode=<m> size=<s> rx=<n> tx=<n> written=<n>
//                                                 then: free data=<n> bri=<n> transparent=<n>
//   state mcc/ctl <port>                          that channel's line alone
//   state mcc/ctl <port> data <offset> <count>    one line: the kept bytes written on the
//                                                 channel from <offset>, at most <count>
//                                                 (4096 or less), in hex ("01ff"); empty
//                                                 past the last one

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class Hal;

class Mcc : public Model {
public:
  static constexpr std::uint32_t kFirstPort = 1024;
  static constexpr std::uint32_t kPortCount = 256;
  static constexpr std::uint32_t kMaxPacketSize = 4096;
  // Bytes kept of what is written on a channel, and the most one "data" answer shows.
  static constexpr std::size_t kKeptBytes = 1 << 20;
  static constexpr std::uint32_t kMaxDataAnswer = 4096;

  struct Channel {
    std::uint32_t port;
    std::uint32_t mode;
    std::uint32_t packet_size;
    std::uint32_t rx_threshold;
    std::uint32_t tx_threshold;
    bool operator==(Channel const&) const = default;
  };

  // Frames go where the switch `hal` connects them; it lives as long as this model.
  explicit Mcc(Hal const& hal);

  // The allocated channels, by port.
  std::vector<Channel> channels() const;
  // Queues a frame for the channel on `port`: "" when done, else why not.
  std::string inject(std::uint32_t port, std::string_view frame);

protected:
  std::unique_ptr<Open> make_open() override;
  void close(Open& open) override;
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  int write(Open& open, std::string_view data) override;
  int read(Open& open, std::size_t len) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  enum Kind { kData, kBri, kTransparent, kKinds };
  struct ChannelOpen : Open {
    std::optional<Channel> channel;
    std::uint64_t written = 0;
    std::string kept;  // the first kKeptBytes written
  };

  static Kind kind_of(std::uint32_t mode);
  int allocate(ChannelOpen& open, void const* arg);
  std::uint32_t free_of(Kind kind) const;
  std::string inject_held(std::uint32_t port, std::string_view frame);
  std::string free_text() const;
  Answer state(std::vector<std::string> const& args) const;

  Hal const& m_hal;
  std::array<std::uint32_t, kKinds> m_total{16, 8, 16};
  std::array<std::uint32_t, kKinds> m_used{};
  std::map<std::uint32_t, ChannelOpen*> m_ports;  // the allocated channels
};

}  // namespace BoardSim
