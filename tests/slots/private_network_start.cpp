// The modem factory that these tests make binds 127.0.0.1:52000 and scans the host's
// network interfaces: the whole program runs in a network namespace of its own, entered
// before any test makes a socket.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/private_network.h"

namespace {

bool enter() {
  std::string const failed = test::enter_private_network();
  if (failed.empty()) return true;
  std::fprintf(stderr, "slots_tests: %s\n", failed.c_str());
  std::exit(1);
}

[[maybe_unused]] bool const g_private = enter();

}  // namespace
