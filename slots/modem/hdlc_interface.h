#pragma once
// The host's synchronous HDLC network interfaces ("hdlc<n>"), driven by the interface
// requests on an IPv4 datagram socket of our own. The requests go through Board::io(),
// so that the board stand-in can play the generic HDLC driver behind an interface; their
// records are the system's own (struct ifreq, 40 bytes, and its if_settings).
//
// Each request returns 0, or -1 with errno.

#include <cstdint>
#include <string>

#include "foundation/fd.h"

class HdlcInterface {
public:
  // Opens the socket; is_open() tells whether that worked (errno as socket() left it).
  HdlcInterface();
  bool is_open() const { return m_socket.is_valid(); }

  int index(std::string const& name);
  int flags(std::string const& name, short& flags);
  int set_flags(std::string const& name, short flags);
  // The interface settings (IF_GET_IFACE into a 128-byte buffer): the word at bytes
  // 12-15, the timeslot map of E1 settings.
  int timeslots(std::string const& name, std::uint32_t& map);
  // PPP framing (IF_PROTO_PPP).
  int set_ppp(std::string const& name);
  // Raw HDLC with the driver's default encoding and parity (IF_PROTO_HDLC, both 0).
  int set_raw_hdlc(std::string const& name);

private:
  // SIOCWANDEV with settings of `type` at `settings`, `size` bytes.
  int wan(std::string const& name, unsigned type, void* settings, unsigned size);

  Fd m_socket;
};
