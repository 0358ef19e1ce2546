#pragma once
// A network namespace of the test's own: only loopback, up, and the interfaces the test
// makes there, so that what the code under test listens on, scans or sends stays inside
// it. All of it needs root; without it the result says so.

#include <string>

namespace test {

// Moves the calling process into a new network namespace and sets its loopback up; ""
// or what failed.
std::string enter_private_network();

// In the current namespace: a persistent tun (or tap) device `name`, set up unless told
// otherwise, made with the `ip` tool as an administrator would; "" or what failed (the
// tool missing among it). The device lives as long as the namespace.
std::string make_tun(std::string const& name, bool tap = false, bool up = true);
// Sets an interface up or down; "" or what failed.
std::string set_link(std::string const& name, bool up);

// The interface's flags (SIOCGIFFLAGS); -1 when it does not exist.
int interface_flags(std::string const& name);

}  // namespace test
