#pragma once
// LGCP commands built and answers read the same way by the tests inside the process and
// by those that drive the daemon over TCP.

#include <functional>
#include <optional>
#include <string>
#include <utility>

#include "schemas/lgcp.h"
#include "schemas/term.h"

namespace lgcp_test {

// A command message built by `fill`: seq and slot (negative: absent).
LGCP::Message command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill);

bool is_success(LGCP::Message const& m);
// The response's error cause, or -1 when it is not an error response.
int error_of(LGCP::Message const& m);

struct Host {
  std::string iaddr;
  unsigned port;
};

// The fields of an rtp create; what is absent stays out of the message.
struct RtpCreate {
  TERM::Payload::NamedNumber payload = TERM::Payload::ptG711_Alaw;
  TERM::Payload::NamedNumber rx = TERM::Payload::ptG711_Alaw;
  TERM::Payload::NamedNumber tx = TERM::Payload::ptG711_Alaw;
  Host dhost{"127.0.0.1", 40000};
  std::optional<Host> shost;
  std::optional<unsigned> ssrc;
  std::optional<unsigned> ttl;
  std::optional<TERM::IpQoSDSCP::NamedNumber> qos;
  std::optional<std::pair<bool, bool>> echo;  // suppressor, canceller
};

// The create parameters of an rtp slot.
LGCP::CreateParams create_params(RtpCreate const& c);

}  // namespace lgcp_test
