#include "tests/e2e/slot_scene.h"

#include <algorithm>
#include <chrono>
#include <csignal>

namespace e2e {

std::string next_stream(Controller& c, int slot) {
  auto const s = c.signal([slot](LGCP::Message const& m) {
    int const kind = m.get_pdu().get_signal().currentSelection();
    return (kind == LGCP::Signal::transmitter::id || kind == LGCP::Signal::receiver::id) && m.slot_isPresent() &&
           static_cast<int>(m.get_slot().getValue()) == slot;
  });
  if (!s) return "none";
  LGCP::Signal const& signal = s->get_pdu().get_signal();
  bool const transmitter = signal.transmitter_isSelected();
  LGCP::Stream const& stream = transmitter ? signal.get_transmitter() : signal.get_receiver();
  return std::string(transmitter ? "transmitter " : "receiver ") +
         (stream.active_isSelected() ? std::to_string(stream.get_active().getValue()) : "inactive");
}

void answered(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what, int cause) {
  c.send(m);
  auto const r = c.response(m.get_seq().getValue());
  if (cause < 0)
    f.check(r && is_success(*r), what + ": success");
  else
    f.check(r && error_of(*r) == cause, what + ": error " + std::to_string(cause));
}

std::size_t occurrences(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

bool in_order(std::vector<std::string> const& lines, std::vector<std::string> const& wanted) {
  auto at = lines.begin();
  for (std::string const& w : wanted) {
    at = std::find(at, lines.end(), w);
    if (at == lines.end()) return false;
    ++at;
  }
  return true;
}

std::string hal_state(test::BoardSimClient& board, int port) {
  auto const lines = board.ok("state hal " + std::to_string(port));
  return lines.empty() ? "" : lines[0];
}

std::string with_daemon(SlotScene const& body) {
  return in_scene([&]() -> std::string {
    Daemon daemon;
    if (std::string const failed = daemon.start(); !failed.empty()) return failed;
    Controller c;
    if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
    test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
    test::Failures f;
    answered(c, f, create_trunk(1, 3, 1, 5), "trunk {1,5} on slot 3");
    body(daemon, c, board, f);
    for (std::string const& frame : c.undecodable()) f.check(false, "a daemon frame does not decode: " + frame);
    c.close();
    f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
    return f.result();
  });
}

}  // namespace e2e
