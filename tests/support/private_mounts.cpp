#include "tests/support/private_mounts.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include "tests/support/own_process.h"

namespace test {

namespace {

bool g_private_dev = false;

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

char const* const kDevices[] = {"/dev/null", "/dev/zero", "/dev/urandom"};

}  // namespace

std::string enter_private_mounts(std::vector<std::string> const& folders) {
  if (::geteuid() != 0) return "this test needs root: it runs in a private mount namespace";
  if (::unshare(CLONE_NEWNS) != 0) return failure("unshare(CLONE_NEWNS)");
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failure("making / private");
  for (std::string const& folder : folders)
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "mode=0755") != 0) return failure("tmpfs on " + folder);
  return {};
}

std::string mount_private_dev() {
  // The machine's devices are held open (O_PATH) across the tmpfs that hides them, then
  // bind-mounted back through their /proc/self/fd links.
  int held[std::size(kDevices)];
  for (std::size_t i = 0; i < std::size(kDevices); ++i) {
    held[i] = ::open(kDevices[i], O_PATH | O_CLOEXEC);
    if (held[i] < 0) return failure(std::string("open ") + kDevices[i]);
  }
  std::string result;
  if (::mount("tmpfs", "/dev", "tmpfs", MS_NOSUID, "mode=0755") != 0) result = failure("tmpfs on /dev");
  for (std::size_t i = 0; i < std::size(kDevices) && result.empty(); ++i) {
    int const target = ::open(kDevices[i], O_CREAT | O_WRONLY | O_CLOEXEC, 0666);
    if (target < 0) {
      result = failure(std::string("mount point ") + kDevices[i]);
      break;
    }
    ::close(target);
    std::string const source = "/proc/self/fd/" + std::to_string(held[i]);
    if (::mount(source.c_str(), kDevices[i], nullptr, MS_BIND, nullptr) != 0)
      result = failure(std::string("bind mount of ") + kDevices[i]);
  }
  for (int fd : held) ::close(fd);
  if (result.empty()) g_private_dev = true;
  return result;
}

bool has_private_dev() { return g_private_dev; }

std::string in_private_mounts(std::vector<std::string> const& folders, std::function<std::string()> const& body) {
  if (::geteuid() != 0) return "this test needs root: it runs in a private mount namespace";
  return in_own_process([&]() -> std::string {
    std::string const message = enter_private_mounts(folders);
    return message.empty() ? body() : message;
  });
}

std::string in_private_dev(std::vector<std::string> const& folders, std::function<std::string()> const& body) {
  return in_private_mounts(folders, [&]() -> std::string {
    std::string const message = mount_private_dev();
    return message.empty() ? body() : message;
  });
}

}  // namespace test
