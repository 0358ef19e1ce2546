// Daemon mode with a real daemonised program (tests/programs/daemon_probe.cpp): its
// streams reach a real log daemon with facility daemon and the right severities, byte for
// byte at a datagram listener, or the hourly log files in mode 1. It ends through
// fatal_report, whose last line must not be lost.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/support/log_listener.h"
#include "tests/support/own_process.h"
#include "tests/support/private_mounts.h"

namespace {

using test::split_records;

// Starts the probe as a child of this process, which becomes the subreaper of what the
// probe detaches. Returns the probe's first pid.
pid_t start_probe(char const* mode, std::string const& name) {
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t const pid = ::fork();
  if (pid == 0) {
    ::execl(DAEMON_PROBE, "daemon_probe", mode, name.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return pid;
}

// Waits for the probe's first process (it leaves at once) and then for the detached one;
// checks that the detached one was ended by abort(). `other` is a child to leave alone.
void wait_for_probe(test::Failures& f, pid_t first, pid_t other = -1) {
  int status = 0;
  f.check(::waitpid(first, &status, 0) == first && WIFEXITED(status) && WEXITSTATUS(status) == 0,
          "the probe's first process leaves with status 0 (status " + std::to_string(status) + ")");
  for (;;) {
    pid_t const pid = ::waitpid(-1, &status, 0);
    if (pid < 0) {
      f.check(false, "the detached probe never ended");
      return;
    }
    if (pid == other) {
      f.check(false, "the log daemon ended during the test");
      continue;
    }
    f.check(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT,
            "the detached probe ends through abort() (status " + std::to_string(status) + ")");
    return;
  }
}

// The lines in `lines` that contain each of `wanted`, in that order.
void in_order(test::Failures& f, std::vector<std::string> const& lines, std::vector<std::string> const& wanted) {
  std::size_t at = 0;
  for (std::string const& text : wanted) {
    while (at < lines.size() && lines[at].find(text) == std::string::npos) ++at;
    f.check(at < lines.size(), "missing or out of order: \"" + text + "\"");
    if (at == lines.size()) return;
    ++at;
  }
}

TEST(Daemon, ModeZeroRoutesEveryStreamToTheLogDaemon) {
  std::string const failure = test::in_private_dev({"/var/log"}, []() -> std::string {
    test::Failures f;
    test::BusyboxSyslogd syslogd("/var/log/messages");
    pid_t const probe = start_probe("syslog", "probe");
    wait_for_probe(f, probe, syslogd.pid());
    f.check(syslogd.wait_for("probe: fatal: the last line"), "the fatal report reaches the log");
    std::vector<std::string> const lines = syslogd.lines();
    in_order(
        f, lines,
        {"daemon.notice probe: notice: detached once, not twice", "daemon.err probe: error: something failed",
         "daemon.debug probe: progress: step 1 in /", "daemon.err probe: partial error line", "daemon.debug probe: a",
         "daemon.debug probe: b", "daemon.debug probe: c", "daemon.notice probe: 100% of %s and %n",
         "raw output of a child", "raw write to descriptor 1", "daemon.err probe: fatal: the last line"});
    std::string all;
    for (std::string const& line : lines) all += line + "\n";
    return f.result().empty() ? "" : f.result() + "log:\n" + all;
  });
  EXPECT_EQ(failure, "");
}

TEST(Daemon, ModeZeroRecordsAreByteExactAndOneFlushIsOneSend) {
  std::string const failure = test::in_private_dev({}, []() -> std::string {
    test::Failures f;
    test::DatagramLogListener listener;
    std::string const name = "probe-with-a-name-longer-than-the-identity-may-be-" + std::string(50, 'n');
    std::string const identity = name.substr(0, 79);
    pid_t const probe = start_probe("syslog", name);
    std::vector<std::string> const sends = listener.receive_until("fatal: the last line", 10000);
    wait_for_probe(f, probe);

    std::regex const stamp("<([0-9]+)>[A-Z][a-z]{2} [ 1-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] (.*)");
    std::vector<std::string> seen;  // "priority text", one entry per send
    for (std::string const& send : sends) {
      if (send.empty() || send.back() != '\0') {
        seen.push_back("raw " + send);
        continue;
      }
      std::string entry;
      for (std::string const& record : split_records(send)) {
        std::smatch match;
        if (!std::regex_match(record, match, stamp)) {
          f.check(false, "not a record: \"" + test::printable(record) + "\"");
          continue;
        }
        std::string text = match[2];
        if (text.rfind(identity + ": ", 0) == 0)
          text = text.substr(identity.size() + 2);
        else
          f.check(false, "identity not cut to 79 characters: \"" + text + "\"");
        entry += (entry.empty() ? "" : " + ") + std::string(match[1]) + " " + text;
      }
      seen.push_back(entry);
    }
    std::vector<std::string> const expected = {
        "29 notice: detached once, not twice",
        "27 error: something failed",
        "31 progress: step 1 in /",
        "27 partial error line",
        "31 a + 31 b + 31 c",
        "29 100% of %s and %n",
        "raw raw output of a child\n",
        "raw raw write to descriptor 1\n",
        "27 fatal: the last line",
    };
    f.equal(seen.size(), expected.size(), "sends");
    for (std::size_t i = 0; i < std::min(seen.size(), expected.size()); ++i)
      f.equal(seen[i], expected[i], "send " + std::to_string(i));
    return f.result();
  });
  EXPECT_EQ(failure, "");
}

TEST(Daemon, ModeOneWritesTimeStampedLinesToTheHoursFile) {
  std::string const failure = test::in_private_mounts({"/var/log"}, []() -> std::string {
    test::Failures f;
    std::filesystem::create_directory("/var/log/probe");
    pid_t const probe = start_probe("files", "/var/log/probe");
    wait_for_probe(f, probe);
    std::vector<std::string> lines;
    std::regex const name("[0-9]{4}_[0-9]{2}_[0-9]{2}-[0-9]{2}\\.log");
    std::vector<std::filesystem::path> files;
    for (auto const& entry : std::filesystem::directory_iterator("/var/log/probe")) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    for (auto const& path : files) {
      f.check(std::regex_match(path.filename().string(), name), "file name " + path.string());
      std::ifstream in(path);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    std::regex const prefix("[0-5][0-9]:[0-5][0-9]:[0-9]{5,6}: .*");
    for (std::string const& line : lines) f.check(std::regex_match(line, prefix), "prefix of \"" + line + "\"");
    in_order(f, lines,
             {": notice: detached once, not twice", ": error: something failed", ": progress: step 1 in /",
              ": partial error line", ": a", ": b",
              // One buffer serves the three streams: the next output goes on the open line.
              ": c100% of %s and %n", ": fatal: the last line"});
    return f.result();
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
