#pragma once
// The controller's end of a link to a control server inside the test process: a socket
// pair whose server end a test link hands to the server's stack, and helpers to send
// commands and read the messages that come back.

#include <string>
#include <vector>

#include "foundation/fd.h"
#include "protocol/control_service.h"
#include "schemas/lgcp.h"

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
  void close() { m_fd.close(); }

private:
  std::vector<LGCP::Message> take();
  Fd m_fd;
  Fd m_server_end;
  std::string m_buffer;
};

// A command message built by `fill`: seq and slot (negative: absent).
LGCP::Message command(int seq, int slot, void (*fill)(LGCP::Command&));

}  // namespace test_server
