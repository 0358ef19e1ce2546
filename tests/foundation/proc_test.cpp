#include "foundation/proc.h"

#include <climits>
#include <csignal>
#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A child process under a command name of the test's choosing, alive while the object is.
class NamedChild {
public:
  explicit NamedChild(std::string const& name) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      ::prctl(PR_SET_NAME, name.c_str());
      char const c = 'x';
      [[maybe_unused]] auto n = ::write(ready[1], &c, 1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char c;
    if (m_pid < 0 || ::read(ready[0], &c, 1) != 1) m_pid = -1;
    ::close(ready[0]);
  }
  ~NamedChild() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  NamedChild(NamedChild const&) = delete;
  NamedChild& operator=(NamedChild const&) = delete;

  int pid() const { return m_pid; }

private:
  int m_pid = -1;
};

// Unique per test process, since ctest runs several of them at once.
std::string unique(char const* format) {
  char name[64];
  std::snprintf(name, sizeof name, format, static_cast<int>(::getpid()));
  return name;
}

TEST(FindProcByName, ScanFindsTheProcessWithThatName) {
  std::string const name = unique("gwp%d");
  NamedChild const child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), 0), child.pid());
  EXPECT_EQ(find_proc_by_name(name.c_str(), ::getpid()), child.pid());  // hint of another process
  EXPECT_EQ(find_proc_by_name(name.c_str(), INT_MAX), child.pid());     // hint of no process
  EXPECT_EQ(find_proc_by_name(name.substr(0, name.size() - 1).c_str(), 0), -1);
  EXPECT_EQ(find_proc_by_name((name + "x").c_str(), 0), -1);
}

TEST(FindProcByName, NameRunsToTheLastClosingParenthesis) {
  std::string const name = unique("(%d) z)");
  NamedChild const child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), 0), child.pid());
}

TEST(FindProcByName, ComparesTheKernelsFifteenCharacterName) {
  std::string const name = unique("gw-long-%d-name-beyond");
  NamedChild const child(name);
  ASSERT_GT(child.pid(), 0);
  EXPECT_EQ(find_proc_by_name(name.c_str(), child.pid()), -1);
  EXPECT_EQ(find_proc_by_name(name.substr(0, 15).c_str(), 0), child.pid());
}

TEST(FindProcByName, AMatchingHintIsTakenWithoutScanning) {
  std::string const name = unique("gwh%d");
  NamedChild const one(name);
  NamedChild const two(name);
  ASSERT_GT(one.pid(), 0);
  ASSERT_GT(two.pid(), 0);
  int const scanned = find_proc_by_name(name.c_str(), 0);
  ASSERT_TRUE(scanned == one.pid() || scanned == two.pid());
  int const other = scanned == one.pid() ? two.pid() : one.pid();
  EXPECT_EQ(find_proc_by_name(name.c_str(), other), other);
}

TEST(FindProcByName, UnknownNameIsMinusOne) {
  EXPECT_EQ(find_proc_by_name(unique("gwnone%d").c_str(), 0), -1);
  EXPECT_EQ(find_proc_by_name("", 0), -1);
}

}  // namespace
