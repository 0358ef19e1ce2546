// Stands in for the programs a modem slot starts (the PPP daemon, the fax sender and the
// fax receiver), installed by the tests at their fixed paths. Beside its own path it
// reads "<path>.mode" and appends to "<path>.log", one line per event:
//   start <pid> <ms> <argv[0]> <arguments...>   once its handlers are in place
//   signal <pid> <signo>                        each SIGHUP
//   exit <pid> <code>                           right before it exits
// (<ms>: wall-clock milliseconds). It writes "<argv[0]> <pid>" and a line end on every
// argument that names a "/dev/" path (the modem's terminal), then obeys its mode file:
//   exit <n>   exit with <n> at once
//   hup <n>    exit with <n> on SIGHUP (the default, with 0)
//   ignore     record SIGHUP until SIGKILL

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t g_hangups = 0;

void on_hangup(int) { g_hangups = g_hangups + 1; }

std::string g_log;

void record(std::string const& line) {
  int const fd = ::open(g_log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string const whole = line + "\n";
  [[maybe_unused]] ssize_t const ignored = ::write(fd, whole.data(), whole.size());
  ::close(fd);
}

std::string read_mode(std::string const& path) {
  char text[64] = {};
  int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "hup 0";
  ssize_t const got = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  return got > 0 ? std::string(text, static_cast<std::size_t>(got)) : "hup 0";
}

}  // namespace

int main(int argc, char** argv) {
  std::string const self = argc > 0 ? argv[0] : "";
  std::string const pid = std::to_string(::getpid());
  g_log = self + ".log";
  std::string const mode = read_mode(self + ".mode");

  sigset_t hangup, previous;
  sigemptyset(&hangup);
  sigaddset(&hangup, SIGHUP);
  ::sigprocmask(SIG_BLOCK, &hangup, &previous);
  struct sigaction action {};
  action.sa_handler = &on_hangup;
  ::sigaction(SIGHUP, &action, nullptr);
  sigset_t waiting = previous;  // what sigsuspend lets in: SIGHUP at least
  sigdelset(&waiting, SIGHUP);

  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::string line = "start " + pid + " " + std::to_string(now.tv_sec * 1000LL + now.tv_usec / 1000);
  for (int i = 0; i < argc; ++i) line += std::string(" ") + argv[i];
  record(line);

  std::string const said = self + " " + pid + "\n";
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "/dev/", 5) != 0) continue;
    int const terminal = ::open(argv[i], O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (terminal < 0) continue;
    [[maybe_unused]] ssize_t const ignored = ::write(terminal, said.data(), said.size());
    ::close(terminal);
  }

  int code = 0;
  if (std::sscanf(mode.c_str(), "exit %d", &code) == 1) {
    record("exit " + pid + " " + std::to_string(code));
    ::_exit(code);
  }
  bool const ignore = mode.rfind("ignore", 0) == 0;
  if (!ignore && std::sscanf(mode.c_str(), "hup %d", &code) != 1) code = 0;
  for (int seen = 0;;) {
    while (g_hangups == seen) ::sigsuspend(&waiting);
    for (; seen < g_hangups; ++seen) record("signal " + pid + " " + std::to_string(SIGHUP));
    if (ignore) continue;
    record("exit " + pid + " " + std::to_string(code));
    ::_exit(code);
  }
}
