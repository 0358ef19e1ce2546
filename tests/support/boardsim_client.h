#pragma once
// A test's end of the stand-in's control socket "boardsim-<pid>" (boardsim/control.h,
// boardsim/server.h). Abstract unix addresses belong to a network namespace: a test of
// a daemon in its own namespace connects from inside that namespace.

#include <chrono>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "foundation/fd.h"

namespace test {

class BoardSimClient {
public:
  // Connects to the stand-in of process pid, trying again for up to `wait` while the
  // socket is not there yet. A socket still missing then fails the test, naming it.
  explicit BoardSimClient(pid_t pid, std::chrono::milliseconds wait = std::chrono::milliseconds(0));

  bool connected() const { return m_fd.is_valid(); }
  std::string const& name() const { return m_name; }

  // Sends one command line and returns the answer's lines, its closing "ok" or
  // "error <text>" included. A lost connection or an answer that does not end within
  // 10 s fails the test and returns what came.
  std::vector<std::string> command(std::string_view line);
  // The answer's lines before its "ok"; any other ending fails the test.
  std::vector<std::string> ok(std::string_view line);
  // The "log" lines without their time stamps ("<device> <request>[ <fields>][ -> ERRNO]"),
  // and without the closing "dropped <n>". A request filter needs a device.
  std::vector<std::string> requests(std::string_view device = {}, std::string_view request = {});

private:
  Fd m_fd;
  std::string m_name;
  std::string m_pending;  // bytes read past the last answer's end
};

}  // namespace test
