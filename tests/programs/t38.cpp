// The T.38 relay program "/usr/local/sbin/t38" as the daemon's tests need it. Tests
// copy it there inside their own mount namespace.
//   t38 --num-of-instances                 prints "4"
//   t38 --child --remote <peer> <word>...  obeys its own words, in order:
//     report=<file>  appends to <file> the argument count, each argument on a line, and
//                    "stdin=seqpacket" when descriptor 0 is a SOCK_SEQPACKET socket
//     read           appends one record read from descriptor 0, in hexadecimal
//     exit=<n>       exits with <n>
//     wait           waits for SIGTERM, appends "signal=15" and dies of it
//   and exits 0 after its last word. Other words are left alone.

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string g_report;

void append(std::string const& line) {
  if (g_report.empty()) return;
  int const fd = ::open(g_report.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string const text = line + "\n";
  [[maybe_unused]] ssize_t const written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

bool stdin_is_seqpacket() {
  int type = 0;
  socklen_t length = sizeof type;
  return ::getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &length) == 0 && type == SOCK_SEQPACKET;
}

void report(int argc, char** argv, std::string const& file) {
  g_report = file;
  append(std::to_string(argc));
  for (int i = 0; i < argc; ++i) append(argv[i]);
  if (stdin_is_seqpacket()) append("stdin=seqpacket");
}

void read_record() {
  unsigned char record[65536];
  ssize_t const got = ::read(0, record, sizeof record);
  std::string text;
  for (ssize_t i = 0; i < got; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", record[i]);
    text += hex;
  }
  append(text);
}

sigset_t term_set() {
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  return term;
}

// SIGTERM is blocked from the start when the words hold "wait", so that none is lost
// before the wait.
[[noreturn]] void wait_for_term() {
  sigset_t term = term_set();
  int got = 0;
  while (::sigwait(&term, &got) != 0 || got != SIGTERM) {
  }
  append("signal=15");
  std::signal(SIGTERM, SIG_DFL);
  ::raise(SIGTERM);
  ::sigprocmask(SIG_UNBLOCK, &term, nullptr);
  std::_Exit(1);  // not reached
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--num-of-instances") == 0) {
    std::puts("4");
    return 0;
  }
  if (argc < 4 || std::strcmp(argv[1], "--child") != 0 || std::strcmp(argv[2], "--remote") != 0) {
    std::fprintf(stderr, "usage: t38 --num-of-instances | t38 --child --remote <peer> [<word>...]\n");
    return 64;
  }
  for (int i = 4; i < argc; ++i) {
    if (std::strcmp(argv[i], "wait") != 0) continue;
    sigset_t const term = term_set();
    ::sigprocmask(SIG_BLOCK, &term, nullptr);
  }
  for (int i = 4; i < argc; ++i) {
    std::string const word = argv[i];
    if (word.rfind("report=", 0) == 0) report(argc, argv, word.substr(7));
    else if (word == "read") read_record();
    else if (word.rfind("exit=", 0) == 0) return std::atoi(word.c_str() + 5);
    else if (word == "wait") wait_for_term();
  }
  return 0;
}
