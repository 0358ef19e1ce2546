#include "foundation/signal.h"

#include <gtest/gtest.h>

namespace {

volatile sig_atomic_t g_plain = 0;
volatile sig_atomic_t g_info_signo = 0;
volatile sig_atomic_t g_info_code = 0;

void plain_handler(int sig) { g_plain = sig; }

void info_handler(int sig, siginfo_t* info, void*) {
  g_info_signo = sig == info->si_signo ? sig : -1;
  g_info_code = info->si_code;
}

// Puts SIGUSR1 back as it was, whatever a test installed.
class SignalTest : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(::sigaction(SIGUSR1, nullptr, &m_saved), 0);
    g_plain = 0;
    g_info_signo = 0;
    g_info_code = 0;
  }
  void TearDown() override { ::sigaction(SIGUSR1, &m_saved, nullptr); }

  static struct sigaction current() {
    struct sigaction a {};
    ::sigaction(SIGUSR1, nullptr, &a);
    return a;
  }

private:
  struct sigaction m_saved {};
};

TEST_F(SignalTest, PlainHandlerDropsSiginfoAndKeepsMaskAndFlags) {
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGUSR2, SIGTERM), SA_RESTART | SA_SIGINFO),
            0);
  struct sigaction const a = current();
  EXPECT_EQ(a.sa_handler, plain_handler);
  EXPECT_EQ(a.sa_flags & (SA_RESTART | SA_SIGINFO), SA_RESTART);
  EXPECT_EQ(sigismember(&a.sa_mask, SIGUSR2), 1);
  EXPECT_EQ(sigismember(&a.sa_mask, SIGTERM), 1);
  EXPECT_EQ(sigismember(&a.sa_mask, SIGINT), 0);
  ::raise(SIGUSR1);
  EXPECT_EQ(g_plain, SIGUSR1);
}

TEST_F(SignalTest, InfoHandlerGetsTheSignalInformation) {
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, info_handler, 0), 0);
  struct sigaction const a = current();
  EXPECT_EQ(a.sa_sigaction, info_handler);
  EXPECT_EQ(a.sa_flags & (SA_RESTART | SA_SIGINFO), SA_SIGINFO);
  EXPECT_EQ(sigisemptyset(&a.sa_mask), 1);
  ::raise(SIGUSR1);
  EXPECT_EQ(g_info_signo, SIGUSR1);
  EXPECT_EQ(g_info_code, SI_TKILL);
}

TEST_F(SignalTest, IgnoreAndSystemDispositions) {
  ASSERT_EQ(IPC::Signal::ignore(SIGUSR1), 0);
  EXPECT_EQ(current().sa_handler, SIG_IGN);
  ::raise(SIGUSR1);  // survives
  ASSERT_EQ(IPC::Signal::system(SIGUSR1), 0);
  EXPECT_EQ(current().sa_handler, SIG_DFL);
  EXPECT_NE(IPC::Signal::ignore(SIGKILL), 0);
}

TEST_F(SignalTest, InterruptSwitchTogglesRestartOnly) {
  ASSERT_EQ(IPC::Signal::handle(SIGUSR1, plain_handler, IPC::Signal::Set(SIGUSR2, SIGTERM, SIGHUP), 0), 0);
  ASSERT_EQ(IPC::Signal::disable_int(SIGUSR1), 0);
  EXPECT_TRUE(current().sa_flags & SA_RESTART);
  ASSERT_EQ(IPC::Signal::enable_int(SIGUSR1), 0);
  struct sigaction const a = current();
  EXPECT_FALSE(a.sa_flags & SA_RESTART);
  EXPECT_EQ(a.sa_handler, plain_handler);
  EXPECT_EQ(sigismember(&a.sa_mask, SIGHUP), 1);
}

TEST(SignalSet, HoldsWhatWasAddedAndKnowsValidNumbers) {
  IPC::Signal::Set s(SIGINT, SIGTERM);
  s.add(SIGCHLD);
  sigset_t out;
  s.copy_to(out);
  EXPECT_EQ(sigismember(&out, SIGINT), 1);
  EXPECT_EQ(sigismember(&out, SIGTERM), 1);
  EXPECT_EQ(sigismember(&out, SIGCHLD), 1);
  EXPECT_EQ(sigismember(&out, SIGHUP), 0);
  IPC::Signal::Set().copy_to(out);
  EXPECT_EQ(sigisemptyset(&out), 1);

  EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGHUP));
  EXPECT_TRUE(IPC::Signal::Set::is_signal(SIGRTMAX));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(0));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(-1));
  EXPECT_FALSE(IPC::Signal::Set::is_signal(NSIG));
}

}  // namespace
