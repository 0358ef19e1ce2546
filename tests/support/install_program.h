#pragma once
// Puts a built test program at a fixed path of the daemon, mode 0755, making the folders
// on the way. Only inside a test's own mount namespace: the path is the machine's.

#include <string>

namespace test {

// "" when done, else what failed.
std::string install_program(std::string const& built, std::string const& path);

}  // namespace test
