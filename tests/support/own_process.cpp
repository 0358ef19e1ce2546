#include "tests/support/own_process.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <cstddef>
#include <fcntl.h>
#include <iterator>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace test {

namespace {

[[noreturn]] void report(int fd, std::string const& message) {
  for (std::size_t done = 0; done < message.size();) {
    ssize_t const n = ::write(fd, message.data() + done, message.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  // Neither the test's exit handlers nor its leak check belong to this copy.
  ::_exit(message.empty() ? 0 : 1);
}

}  // namespace

std::string printable(std::string const& text) {
  std::string shown;
  for (char c : text) {
    auto const byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\\n";
    } else if (c == '\0') {
      shown += "\\0";
    } else if (byte < 0x20 || byte >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

bool fail_system_call(long number, int error) {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(number), 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<unsigned>(error) & SECCOMP_RET_DATA)),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
  return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

std::string in_own_process(std::function<std::string()> const& body, unsigned seconds) {
  int pipe[2];
  if (::pipe2(pipe, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  pid_t const child = ::fork();
  if (child < 0) return std::string("fork: ") + std::strerror(errno);
  if (child == 0) {
    ::close(pipe[0]);
    ::alarm(seconds);
    std::string message;
    try {
      message = body();
    } catch (std::exception const& e) {
      message = std::string("exception: ") + e.what();
    } catch (...) {
      message = "unknown exception";
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
  if (WIFSIGNALED(status))
    return "child killed by signal " + std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ") " +
           message;
  if (WEXITSTATUS(status) != 0 && message.empty()) return "child exited with " + std::to_string(WEXITSTATUS(status));
  return message;
}

}  // namespace test
