#include "foundation/run.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/support/private_mounts.h"

namespace {

char const kPidFile[] = "/var/run/server.pid";

bool exists(char const* path) {
  struct stat st;
  return ::stat(path, &st) == 0;
}

std::string content(char const* path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(LinuxRun, PidFileHoldsThePidWhileTheObjectLives) {
  std::string const failure = test::in_private_mounts({"/var/run"}, []() -> std::string {
    std::string const pid = std::to_string(::getpid());
    ::umask(0);
    {
      Linux::Run const run("server");
      struct stat st;
      if (::stat(kPidFile, &st) != 0) return "pid file not created";
      if ((st.st_mode & 07777) != 0644) return "pid file mode is not 0644";
      if (content(kPidFile) != pid) return "pid file holds '" + content(kPidFile) + "', not '" + pid + "'";
    }
    if (exists(kPidFile)) return "pid file left behind";

    std::ofstream(kPidFile) << "a longer stale text from before\n";
    {
      Linux::Run const run("server");
      if (content(kPidFile) != pid) return "stale pid file not overwritten: '" + content(kPidFile) + "'";
    }
    if (exists(kPidFile)) return "overwritten pid file left behind";
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(LinuxRun, UnwritableFolderLeavesEverythingAlone) {
  std::string const failure = test::in_private_mounts({"/var/run"}, []() -> std::string {
    std::ofstream(kPidFile) << "someone else's";
    if (::mount(nullptr, "/var/run", nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) return "remount read-only failed";
    { Linux::Run const run("server"); }
    if (content(kPidFile) != "someone else's") return "existing file touched";
    return {};
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
