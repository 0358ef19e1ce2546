#pragma once
// The RTP session driver, Board::kRtp: one session per open, begun with a connection
// record, holding at most one TDM channel of 2048..2303. The daemon opens it read-only
// and reads 36-byte event records {type, value, timeout, 24 zero bytes}; an empty queue
// reads EAGAIN whatever the open's mode, as the driver does.
//
// Requests, logged by these names and fields (decimal):
//   ioctl begin        dst=<a.b.c.d>:<port> src=<a.b.c.d>:<port> rx_pt= tx_pt= pf= vad= crate=
//                      ssrc= ttl= tos=          (a second begin on one open: EINVAL)
//   ioctl add-channel  tdm= dev_no= chn=, then got=<tdm>
//                      tdm -1 takes the lowest free channel (none: ENOSPC); another channel
//                      of the range is taken unless another open holds it (EBUSY); any
//                      other tdm, or a second channel on one open, EINVAL
//   ioctl attach       fd= pid=
//   ioctl pd-set       timeout=<t>              (a record other than 1,0,t,0,0,t,0,0,0 is
//                                                logged words=... and is EINVAL)
//   ioctl pd-reset     value=<int32>            (a value other than 1: EINVAL)
//   ioctl teardown-1, teardown-2, teardown-3, tx-start, tx-stop
//                      value=0x0                (by value; a value but 0: EINVAL)
// Every request but begin, attach and the teardowns needs the session begun (EINVAL). A
// by-value request given a record is EINVAL, a record request given a value EFAULT, any
// other request ENOTTY. The last close of an open releases its channel.
//
// Control socket:
//   state rtp             sessions=<opens held> channels=<c>,<c>,...   (ascending)
//   state rtp <channel>   channel=<c> dst=<a.b.c.d>:<port> src=<a.b.c.d>:<port> rx_pt= tx_pt=
//                         ssrc= transmitting=<yes|no> pd=<off|<timeout>>
//   set rtp event <channel> <type> <value> <timeout>
//                         queues {type, value, timeout, 24 zero bytes} on the open holding
//                         the channel. Words are 32-bit: decimal, 0x hex, or negative.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "boardsim/event_device.h"
#include "foundation/board_requests.h"

namespace BoardSim {

class Rtp : public EventDevice {
public:
  static constexpr int kFirstChannel = 2048;
  static constexpr int kChannels = 256;

  Rtp();

protected:
  std::unique_ptr<Open> make_open() override;
  int open(Open& open, int flags) override;
  void close(Open& open) override;
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  bool nonblocking_reads() const override { return true; }
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  struct Session : Open {
    bool begun = false;
    Board::rtp_connection_params params{};
    int channel = -1;
    bool transmitting = false;
    std::optional<std::uint32_t> pd;
  };

  int add_channel(Session& session, Board::rtp_channel_info& info);
  Session* holder(int channel) const;
  Answer state(std::vector<std::string> const& args) const;
  Answer queue_event(std::vector<std::string> const& args);

  unsigned m_sessions = 0;
  std::array<Session*, kChannels> m_holders{};
};

}  // namespace BoardSim
