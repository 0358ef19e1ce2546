#pragma once
// The controller's end of a link to a control server inside the test process: a socket
// pair whose server end a test link hands to the server's stack, and helpers to send
// commands and read the messages that come back.

#include <string>
#include <vector>

#include "foundation/fd.h"
#include "protocol/control_service.h"
#include "schemas/lgcp.h"
#include "server/control_server.h"
#include "tests/server/lgcp_messages.h"

namespace test_server {

// A link that is connected as soon as it is activated, over one end of a socket pair.
class PairLink : public Control::ServiceNet {
public:
  explicit PairLink(Fd server_end) : m_end(std::move(server_end)) {}

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}

private:
  Fd m_end;
};

class ControllerEnd {
public:
  ControllerEnd();
  // A link for CtrlSrv::Server::Activate (it takes ownership).
  PairLink* link();

  void send(LGCP::Message const& message);
  void send_raw(std::vector<char> const& body);
  // Runs the loop until `count` messages came back (or a second of loop time passed) and
  // returns them.
  std::vector<LGCP::Message> receive(std::size_t count = 1);
  // Messages that arrived while the loop ran, without running it.
  std::vector<LGCP::Message> pending();
  // Sends `message` and returns what came back for it: at least `expected` messages, and
  // the signals that came with them.
  std::vector<LGCP::Message> exchange(LGCP::Message const& message, std::size_t expected = 1);
  void close() { m_fd.close(); }
  // Every body that came back, as it came, in order.
  std::vector<std::string> const& bodies() const { return m_bodies; }

private:
  std::vector<LGCP::Message> take();
  Fd m_fd;
  Fd m_server_end;
  std::string m_buffer;
  std::vector<std::string> m_bodies;
};

// Counts the links that come up, so that a fixture knows when its link is.
struct ConnectCounter : CtrlSrv::Service {
  int connects = 0;
  void OnConnect() override { ++connects; }
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
};

using lgcp_test::command;

}  // namespace test_server
