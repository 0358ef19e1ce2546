#include "foundation/console.h"

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <sstream>
#include <termios.h>
#include <unistd.h>

#include "foundation/fd.h"
#include "tests/support/fake_clock.h"

namespace {

// Replaces standard input with the given descriptor (or a closed one) and captures
// the error stream, both until the end of the test.
class ConsoleTest : public ::testing::Test {
protected:
  void SetUp() override {
    m_saved_stdin = ::dup(STDIN_FILENO);
    m_saved_cerr = std::cerr.rdbuf(m_errors.rdbuf());
  }
  void TearDown() override {
    std::cerr.rdbuf(m_saved_cerr);
    ::dup2(m_saved_stdin, STDIN_FILENO);
    ::close(m_saved_stdin);
  }
  static void use_as_stdin(int fd) { ::dup2(fd, STDIN_FILENO); }
  std::string errors() const { return m_errors.str(); }

private:
  int m_saved_stdin = -1;
  std::streambuf* m_saved_cerr = nullptr;
  std::ostringstream m_errors;
};

TEST_F(ConsoleTest, BinaryModeClearsLineEditingAndEchoButKeepsSignals) {
  Fd master(::posix_openpt(O_RDWR | O_NOCTTY));
  ASSERT_TRUE(master) << Errno();
  ASSERT_EQ(::grantpt(master.lowlevel_fd()), 0);
  ASSERT_EQ(::unlockpt(master.lowlevel_fd()), 0);
  Fd terminal(::open(::ptsname(master.lowlevel_fd()), O_RDWR | O_NOCTTY));
  ASSERT_TRUE(terminal) << Errno();
  termios modes;
  ASSERT_EQ(::tcgetattr(terminal.lowlevel_fd(), &modes), 0);
  tcflag_t const cleared = ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL;
  modes.c_lflag |= cleared | ISIG | ECHOKE;
  ASSERT_EQ(::tcsetattr(terminal.lowlevel_fd(), TCSANOW, &modes), 0);

  use_as_stdin(terminal.lowlevel_fd());
  Console::SwitchToBinaryMode();
  ASSERT_EQ(::tcgetattr(terminal.lowlevel_fd(), &modes), 0);
  EXPECT_EQ(modes.c_lflag & cleared, 0u);
  EXPECT_EQ(modes.c_lflag & (ISIG | ECHOKE), tcflag_t{ISIG | ECHOKE});
  EXPECT_EQ(errors(), "");
}

TEST_F(ConsoleTest, BinaryModeOnSomethingElseSaysSoAndGoesOn) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  Fd const reader(pipe[0]), writer(pipe[1]);
  use_as_stdin(reader.lowlevel_fd());
  Console::SwitchToBinaryMode();
  EXPECT_EQ(errors(), "can't obtain terminal attributes\ncan't set terminal attributes\n");
}

TEST_F(ConsoleTest, NonBlockModeSetsNonBlockingInput) {
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  Fd const reader(pipe[0]), writer(pipe[1]);
  use_as_stdin(reader.lowlevel_fd());
  Console::SwitchToNonBlockMode();
  EXPECT_TRUE(::fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK);
  EXPECT_EQ(errors(), "");

  ::close(STDIN_FILENO);
  Console::SwitchToNonBlockMode();
  EXPECT_EQ(errors(), "can't switch terminal to blocked mode\n");
}

TEST(Timestamp, DayMonthAndTimeOfTheLoopClock) {
  char const* const saved = std::getenv("TZ");
  std::string const saved_tz = saved ? saved : "";
  ::setenv("TZ", "UTC0", 1);
  ::tzset();
  {
    test::FakeClock clock;
    // The fake wall clock starts at 2026-01-01 00:00:00 UTC.
    clock.set_ms(((31 + 15) * 86400 + 13 * 3600 + 4 * 60 + 5) * 1000ull + 999);
    std::ostringstream os;
    EXPECT_EQ(&timestamp(os), &os);
    EXPECT_EQ(os.str(), "16/02 13:04:05");
  }
  if (saved)
    ::setenv("TZ", saved_tz.c_str(), 1);
  else
    ::unsetenv("TZ");
  ::tzset();
}

}  // namespace
