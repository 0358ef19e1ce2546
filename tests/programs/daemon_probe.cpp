// A daemonised test program: detaches with Daemon::Init, writes to each stream, lets a
// child write to its descriptor 1 and ends through fatal_report.
//   daemon_probe syslog <identity>   (mode 0)
//   daemon_probe files <folder>      (mode 1)

#include <cstring>
#include <iostream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "foundation/daemon.h"
#include "foundation/fatal.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: daemon_probe syslog|files <name>" << std::endl;
    return 64;
  }
  rlimit const no_core{0, 0};
  ::setrlimit(RLIMIT_CORE, &no_core);

  Daemon::Params params;
  params.mode = std::strcmp(argv[1], "files") == 0 ? 1 : 0;
  params.name = argv[2];
  pid_t const before = ::getpid();
  Daemon::Init(params);
  pid_t const detached = ::getpid();
  Daemon::Init(params);

  char cwd[256] = "";
  std::cout << "notice: detached " << (detached != before ? "once" : "never")
            << (::getpid() == detached ? ", not twice" : ", twice") << std::endl;
  std::cerr << "error: something failed" << std::endl;
  std::clog << "progress: step " << 1 << " in " << ::getcwd(cwd, sizeof cwd) << std::endl;
  std::cerr << "partial ";
  std::cerr << "error line" << std::endl;
  std::clog << "a\nb\nc" << std::flush;
  std::cout << "100% of %s and %n" << std::endl;

  pid_t const child = ::fork();
  if (child == 0) {
    ::execl("/bin/sh", "sh", "-c", "echo raw output of a child", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::waitpid(child, nullptr, 0);
  [[maybe_unused]] ssize_t const written = ::write(STDOUT_FILENO, "raw write to descriptor 1\n", 26);

  fatal_report("fatal: the last line");
}
