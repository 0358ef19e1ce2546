#include "tests/support/private_mounts.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace {

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

std::string enter(std::vector<std::string> const& folders) {
  if (::unshare(CLONE_NEWNS) != 0) return failure("unshare(CLONE_NEWNS)");
  // Otherwise the tmpfs mounts below would propagate back to the machine.
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return failure("making / private");
  for (std::string const& folder : folders)
    if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "mode=0755") != 0) return failure("tmpfs on " + folder);
  return {};
}

[[noreturn]] void report(int fd, std::string const& message) {
  for (std::size_t done = 0; done < message.size();) {
    ssize_t const n = ::write(fd, message.data() + done, message.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::_exit(message.empty() ? 0 : 1);
}

}  // namespace

std::string in_private_mounts(std::vector<std::string> const& folders, std::function<std::string()> const& body) {
  if (::geteuid() != 0) return "this test needs root: it runs in a private mount namespace";
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return failure("pipe");
  pid_t const child = ::fork();
  if (child < 0) return failure("fork");
  if (child == 0) {
    ::close(pipe[0]);
    std::string message = enter(folders);
    if (message.empty()) {
      try {
        message = body();
      } catch (std::exception const& e) {
        message = std::string("exception: ") + e.what();
      } catch (...) {
        message = "unknown exception";
      }
    }
    report(pipe[1], message);
  }
  ::close(pipe[1]);
  std::string message;
  char buf[256];
  for (ssize_t n; (n = ::read(pipe[0], buf, sizeof buf)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    message.append(buf, static_cast<std::size_t>(n));
  }
  ::close(pipe[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status)) + " " + message;
  if (WEXITSTATUS(status) != 0 && message.empty()) return "child exited with " + std::to_string(WEXITSTATUS(status));
  return message;
}

}  // namespace test
