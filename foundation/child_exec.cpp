#include "foundation/child_exec.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

namespace ChildExec {

namespace {

void say(char const* text) {
  std::size_t const length = std::strlen(text);
  [[maybe_unused]] ssize_t const ignored = ::write(1, text, length);
}

// In the child, before its signals are unblocked: every signal the daemon catches goes
// back to its default action (what exec would do anyway, but only later).
void reset_caught_signals() {
  for (int signo = 1; signo < NSIG; ++signo) {
    struct sigaction current {};
    if (::sigaction(signo, nullptr, &current) != 0) continue;
    if (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN) continue;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    ::sigaction(signo, &fallback, nullptr);
  }
}

}  // namespace

pid_t Start(std::vector<std::string> const& args, Steps const& steps) {
  std::vector<char*> argv;
  for (std::string const& arg : args) {
    if (argv.size() + 1 == kMaxEntries) break;
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  char const* const path = argv[0] ? argv[0] : "";

  sigset_t all, previous;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &previous);
  pid_t const pid = ::fork();
  if (pid != 0) {
    int const saved = errno;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    errno = saved;
    return pid;
  }
  reset_caught_signals();
  ::sigprocmask(SIG_SETMASK, &previous, nullptr);
  if (steps.pause) ::sleep(steps.seconds);
  if (steps.say) say(steps.say);
  // dup2 onto itself would leave close-on-exec set.
  if (steps.input == 0)
    ::fcntl(0, F_SETFD, ::fcntl(0, F_GETFD) & ~FD_CLOEXEC);
  else if (steps.input > 0)
    ::dup2(steps.input, 0);
  ::execv(path, argv.data());
  if (steps.say_failure) say("fail to exec!\n");
  ::_exit(steps.exec_failed);
}

}  // namespace ChildExec
