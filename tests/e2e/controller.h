#pragma once
// The controller as the daemon meets it: a real TCP client that sends LGCP commands in
// TPKT frames, matches responses by `seq` and keeps the signals that come between, so
// a test waits only for what it cares about. Every body in both directions is kept for
// the independent decoders.

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "foundation/fd.h"
#include "schemas/lgcp.h"
#include "tests/server/lgcp_messages.h"

namespace e2e {

class Controller {
public:
  // "" once connected to the daemon on loopback, else why not.
  std::string connect(int port);
  bool connected() const { return m_fd.is_valid(); }
  void close();

  void send(LGCP::Message const& message);
  // A body that is framed here but not encoded (bytes neither encoder writes).
  void send_body(std::string const& body);

  // The response with this seq, or nothing within wait_ms. Signals read on the way are
  // kept for signal().
  std::optional<LGCP::Message> response(int seq, int wait_ms = 5000);
  // The first kept or arriving signal that `match` accepts (it is taken from the kept
  // ones), or nothing within wait_ms.
  std::optional<LGCP::Message> signal(std::function<bool(LGCP::Message const&)> const& match, int wait_ms = 5000);
  // Whatever arrives within wait_ms: true when nothing but trunk status reports, which
  // come unasked every second (a quiet link), the arrivals kept.
  bool quiet(int wait_ms);
  // Whether the daemon closes the link within wait_ms.
  bool sees_close(int wait_ms = 5000);

  std::vector<std::string> const& bodies_sent() const { return m_sent; }
  std::vector<std::string> const& bodies_received() const { return m_received; }
  // Frames that arrived but did not decode (each a failure of the daemon's encoder).
  std::vector<std::string> const& undecodable() const { return m_undecodable; }

private:
  // Reads for at most wait_ms; false at end of file or error.
  bool read_some(int wait_ms);
  void take_frames();

  Fd m_fd;
  std::string m_buffer;
  std::deque<LGCP::Message> m_inbox;
  std::vector<std::string> m_sent, m_received, m_undecodable;
  std::size_t m_asked_for = 0;  // bodies received that are not trunk status reports
  bool m_closed = false;
};

// Message builders: seq and slot (negative: absent).
using lgcp_test::command;
LGCP::Message ping(int seq);
LGCP::Message query(int seq);
LGCP::Message create_trunk(int seq, int slot, unsigned trunk, unsigned timeslot);
LGCP::Message connect_to(int seq, int slot, unsigned target);
LGCP::Message disconnect(int seq, int slot);
LGCP::Message destroy(int seq, int slot);

using lgcp_test::error_of;
using lgcp_test::is_success;
// A signal of this alternative (LGCP::Signal's selection numbers).
std::function<bool(LGCP::Message const&)> signal_of(int alternative, int slot = -1);
// The trunk status reports that come unasked every second once a controller connected.
bool is_trunk_status(LGCP::Message const& m);
std::string to_text(LGCP::Message const& m);

}  // namespace e2e
