#include "tests/e2e/slot_scene.h"

#include <algorithm>
#include <chrono>
#include <csignal>

namespace e2e {

std::size_t occurrences(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
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
