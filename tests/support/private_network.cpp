#include "tests/support/private_network.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace test {

namespace {

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

// Runs `ip` with the words; "" or how it failed.
std::string ip(std::vector<std::string> words) {
  words.insert(words.begin(), "ip");
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t const child = ::fork();
  if (child < 0) return failure("fork");
  if (child == 0) {
    ::execvp("ip", argv.data());
    ::_exit(127);
  }
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  std::string command;
  for (std::size_t i = 0; i + 1 < argv.size(); ++i) command += (i ? " " : "") + words[i];
  if (WIFEXITED(status) && WEXITSTATUS(status) == 127) return command + ": the ip tool is missing (package iproute2)";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return command + " failed, status " + std::to_string(status);
  return {};
}

}  // namespace

int interface_flags(std::string const& name) {
  int const s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return -1;
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  int const result = ::ioctl(s, SIOCGIFFLAGS, &request);
  ::close(s);
  return result != 0 ? -1 : static_cast<unsigned short>(request.ifr_flags);
}

std::string set_link(std::string const& name, bool up) { return ip({"link", "set", name, up ? "up" : "down"}); }

std::string enter_private_network() {
  if (::unshare(CLONE_NEWNET) != 0) return failure("unshare(CLONE_NEWNET) (root is needed)");
  int const s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) return failure("socket");
  ifreq request{};
  std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
  std::string result;
  if (::ioctl(s, SIOCGIFFLAGS, &request) != 0) {
    result = failure("SIOCGIFFLAGS lo");
  } else {
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP | IFF_RUNNING);
    if (::ioctl(s, SIOCSIFFLAGS, &request) != 0) result = failure("SIOCSIFFLAGS lo");
  }
  ::close(s);
  return result;
}

std::string make_tun(std::string const& name, bool tap, bool up) {
  if (std::string const failed = ip({"tuntap", "add", "dev", name, "mode", tap ? "tap" : "tun"}); !failed.empty())
    return failed;
  return up ? set_link(name, true) : std::string();
}

}  // namespace test
