#pragma once
// Lets a test write the daemon's fixed system paths (/var/run, /dev/log, ...) without
// touching the machine's own files: the body runs in a forked child with its own mount
// namespace and a fresh tmpfs over each listed folder. All of it needs root; without it
// the result says so, and the caller's check fails rather than passing unchecked.

#include <functional>
#include <string>
#include <vector>

namespace test {

// body returns "" when its checks pass, else what failed. The result is "" on success,
// else the body's failure or why the namespace could not be made.
std::string in_private_mounts(std::vector<std::string> const& folders, std::function<std::string()> const& body);

// The same with a private /dev as well (mount_private_dev), for tests that listen on or
// run a log daemon at "/dev/log".
std::string in_private_dev(std::vector<std::string> const& folders, std::function<std::string()> const& body);

// The steps, for harnesses that fork and exec by themselves; each returns "" or what
// failed. enter_private_mounts: a new mount namespace for the calling process with "/"
// made recursively private (unshare alone keeps shared mounts shared, and the tmpfs
// mounts would then show on the machine), then a tmpfs over each folder.
std::string enter_private_mounts(std::vector<std::string> const& folders);
// Inside such a namespace: a tmpfs over /dev holding only the machine's /dev/null,
// /dev/zero and /dev/urandom, bind-mounted (daemon() opens /dev/null). A log daemon
// started afterwards may unlink and create /dev/log freely.
std::string mount_private_dev();
// Whether this process made its /dev private with mount_private_dev.
bool has_private_dev();

}  // namespace test
