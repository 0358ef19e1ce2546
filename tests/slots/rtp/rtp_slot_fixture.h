#pragma once
// RTP slots through the slot table on the tests' shared board, with real UDP sockets on
// loopback for their RTCP: every port comes from the kernel (bind port 0, read it back).

#include <gtest/gtest.h>

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

#include "foundation/fd.h"
#include "schemas/lgcp.h"
#include "tests/server/lgcp_messages.h"
#include "tests/slots/slot_table_fixture.h"

namespace rtp_test {

// A UDP socket bound to 127.0.0.1 on a port the kernel chose.
class Peer {
public:
  // With `reuse`, SO_REUSEADDR is set before the bind.
  explicit Peer(bool reuse = false, int port = 0);
  int port() const { return m_port; }
  // The next datagram within `wait_ms` of real time, or nothing; its source port in *from.
  std::optional<std::string> receive(int wait_ms = 2000, int* from = nullptr);

private:
  Fd m_fd;
  int m_port = -1;
};

// A UDP port free on every address right now.
int free_udp_port();

using lgcp_test::create_params;
using lgcp_test::Host;
using lgcp_test::RtpCreate;

class RtpSlotTest : public test::SlotTableTest {
protected:
  RtpSlotTest();
  ~RtpSlotTest() override;

  // The answer to the create and what came with it.
  std::vector<LGCP::Message> create(int seq, int slot, RtpCreate const& c);
  std::vector<LGCP::Message> ioctl(int seq, int slot, std::function<void(LGCP::IoctlParams&)> const& fill);
  std::vector<LGCP::Message> command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill);
};

// The shared board's requests on `device` named `name` (both may be empty), as
// "<device> <request> <fields>[ -> ERRNO]".
std::vector<std::string> requests(std::string const& device = {}, std::string const& name = {});
// A control socket command's answer lines, its closing "ok" or "error ..." included.
std::vector<std::string> stand_in(std::string const& line);
// The descriptors this process holds.
std::size_t descriptors();

// The first signal of this alternative among the messages, or null.
LGCP::Signal const* signal_of(std::vector<LGCP::Message> const& got, int alternative);

}  // namespace rtp_test
