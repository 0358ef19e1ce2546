#pragma once
// Lets a test write the daemon's fixed system paths (/var/run, ...) without touching the
// machine's own files: the body runs in a forked child with its own mount namespace and
// a fresh tmpfs over each listed folder.

#include <functional>
#include <string>
#include <vector>

namespace test {

// body returns "" when its checks pass, else what failed. The result is "" on success,
// else the body's failure or why the namespace could not be made (it needs root): a
// caller asserts it is empty, so such a test fails rather than passing unchecked.
std::string in_private_mounts(std::vector<std::string> const& folders, std::function<std::string()> const& body);

}  // namespace test
