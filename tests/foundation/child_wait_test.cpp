// Child-exit notification with real children. Once active, the service reaps every child
// of its process, so each test runs in a child process of its own, with the real loop
// woken by the real exits (a timer ends a loop that waits too long).

#include "foundation/child_wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "foundation/multiplexer.h"
#include "foundation/timer.h"
#include "tests/support/own_process.h"

namespace {

constexpr int kGiveUpMs = 10000;

// Forks a child that runs `body` (default: exits with `code` at once).
pid_t spawn(int code, void (*body)() = nullptr) {
  pid_t const pid = ::fork();
  if (pid == 0) {
    if (body) body();
    ::_exit(code);
  }
  return pid;
}

void wait_forever() {
  for (;;) ::pause();
}

// True once `pid` is gone for good: exited and reaped (by the service's handler).
bool reaped(pid_t pid) { return ::kill(pid, 0) != 0 && errno == ESRCH; }

bool wait_until_reaped(std::vector<pid_t> const& pids) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs);
  for (pid_t pid : pids) {
    while (!reaped(pid)) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return true;
}

// A subscriber that records what it is told and stops the loop after `expected` calls.
struct Owner {
  void on_exit(int status) {
    statuses.push_back(status);
    if (action) action();
    if (static_cast<int>(statuses.size()) == expected) multiplexer.terminate();
  }
  void on_other(int status) { others.push_back(status); }
  std::vector<int> statuses;
  std::vector<int> others;
  int expected = 1;
  std::function<void()> action;
};

// Runs the loop until something terminates it; false when it gave up waiting.
class Loop {
public:
  bool run() {
    m_gave_up = false;
    m_limit.set(kGiveUpMs, &Loop::give_up, this);
    multiplexer.run(false, true);
    m_limit.reset();
    return !m_gave_up;
  }
  // Runs the loop for a short while to collect whatever is pending.
  void drain(unsigned ms) {
    m_limit.set(ms, &Loop::stop, this);
    multiplexer.run(false, true);
    m_limit.reset();
  }

private:
  void give_up() {
    m_gave_up = true;
    multiplexer.terminate();
  }
  void stop() { multiplexer.terminate(); }
  Timer m_limit;
  bool m_gave_up = false;
};

// The log stream while it lives.
class ClogCapture {
public:
  ClogCapture() : m_previous(std::clog.rdbuf(m_text.rdbuf())) {}
  ~ClogCapture() { std::clog.rdbuf(m_previous); }
  std::string text() const { return m_text.str(); }

private:
  std::ostringstream m_text;
  std::streambuf* m_previous;
};

// Runs body in a child process of its own; its progress lines stay out of the output.
std::string in_child(std::function<void(test::Failures&)> const& body, unsigned seconds = 60) {
  return test::in_own_process(
      [&]() -> std::string {
        ClogCapture const quiet;
        test::Failures failures;
        body(failures);
        return failures.result();
      },
      seconds);
}

TEST(ChildWait, ExitCodesAndSignalsArriveAsRawWaitStatuses) {
  std::string const failure = in_child([](test::Failures& f) {
    ClogCapture const log;
    ChildWait::Activate();
    Owner owner;
    owner.expected = 4;
    std::vector<std::unique_ptr<ChildWait>> waits;
    std::vector<pid_t> const pids = {spawn(0), spawn(3), spawn(0, wait_forever), spawn(0, wait_forever)};
    for (pid_t pid : pids) {
      waits.push_back(std::make_unique<ChildWait>());
      waits.back()->Bind(&owner, &Owner::on_exit);
      waits.back()->Attach(pid);
    }
    ::kill(pids[2], SIGKILL);
    ::kill(pids[3], SIGTERM);
    f.check(Loop().run(), "four exits notified");
    std::sort(owner.statuses.begin(), owner.statuses.end());
    f.equal(owner.statuses.size(), 4u, "notifications");
    if (owner.statuses.size() == 4) {
      f.equal(owner.statuses[0], 0, "exit 0");
      f.equal(owner.statuses[1], SIGKILL, "killed by SIGKILL");
      f.equal(owner.statuses[2], SIGTERM, "killed by SIGTERM");
      f.equal(owner.statuses[3], 3 << 8, "exit 3");
    }
    for (auto const& wait : waits) f.check(!wait->is_attached(), "a notified subscription is detached");
    f.check(log.text().find("terminate child process, pid=" + std::to_string(pids[1]) + " status=768\n") !=
                std::string::npos,
            "log line of an exit: " + log.text());
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, ManyChildrenEndingBeforeTheLoopRunsAreEachDeliveredOnce) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    owner.expected = 40;
    std::map<int, int> expected;  // pid -> status
    std::vector<pid_t> pids;
    std::vector<std::unique_ptr<ChildWait>> waits;
    for (int i = 0; i < 40; ++i) {
      pid_t const pid = spawn(i);
      pids.push_back(pid);
      expected[pid] = i << 8;
      waits.push_back(std::make_unique<ChildWait>());
      waits.back()->Bind(&owner, &Owner::on_exit);
      waits.back()->Attach(pid);
    }
    f.check(wait_until_reaped(pids), "every child reaped before the loop runs");
    f.check(Loop().run(), "40 exits notified");
    std::vector<int> want;
    for (auto const& [pid, status] : expected) want.push_back(status);
    std::vector<int> got = owner.statuses;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    f.check(got == want, "each child's own status, once");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, AChildEndingBeforeAttachIsStillDelivered) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    ChildWait wait;
    wait.Bind(&owner, &Owner::on_exit);
    pid_t const pid = spawn(7);
    f.check(wait_until_reaped({pid}), "reaped");
    wait.Attach(pid);
    f.check(Loop().run(), "notified after a late attach");
    f.equal(owner.statuses.size(), 1u, "one notification");
    if (!owner.statuses.empty()) f.equal(owner.statuses[0], 7 << 8, "status");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, ExitsBeforeActivationAreReapedByTheFirstSignalAfterIt) {
  std::string const failure = in_child([](test::Failures& f) {
    Owner owner;
    owner.expected = 2;
    ChildWait early, late;
    early.Bind(&owner, &Owner::on_exit);
    late.Bind(&owner, &Owner::on_exit);
    pid_t const first = spawn(1);
    early.Attach(first);
    f.check(early.is_attached(), "listed before activation");
    siginfo_t info{};
    ::waitid(P_PID, static_cast<id_t>(first), &info, WEXITED | WNOWAIT);  // a zombie now
    f.check(!reaped(first), "not reaped before activation");
    ChildWait::Activate();
    pid_t const second = spawn(2);
    late.Attach(second);
    f.check(Loop().run(), "both notified");
    std::sort(owner.statuses.begin(), owner.statuses.end());
    f.check(owner.statuses == std::vector<int>{1 << 8, 2 << 8}, "both statuses");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, OnlyTheFirstAttachedSubscriptionOfAPidIsNotified) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    ChildWait first, second;
    first.Bind(&owner, &Owner::on_exit);
    second.Bind(&owner, &Owner::on_other);
    pid_t const pid = spawn(5, wait_forever);
    second.Attach(pid);
    first.Attach(pid);
    second.Attach(pid);  // attaching again moves it behind `first`
    ::kill(pid, SIGKILL);
    f.check(Loop().run(), "notified");
    f.equal(owner.statuses.size(), 1u, "the first in the list is told");
    f.check(owner.others.empty(), "the second is not");
    f.check(!first.is_attached() && second.is_attached(), "the second stays attached");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, DetachedDestroyedAndRebindedSubscriptions) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    owner.expected = 2;
    ChildWait a, b, c;
    a.Bind(&owner, &Owner::on_other);
    a.Bind(&owner, &Owner::on_exit);  // only the second member is called
    b.Bind(&owner, &Owner::on_exit);
    c.Bind(&owner, &Owner::on_exit);
    pid_t const pa = spawn(10), pb = spawn(11), pc = spawn(12);
    a.Attach(pa);
    b.Attach(pb);
    c.Attach(pc);
    b.Detach();
    b.Detach();  // not attached: nothing changes
    { ChildWait never_attached; }
    f.check(Loop().run(), "a and c notified");
    std::sort(owner.statuses.begin(), owner.statuses.end());
    f.check(owner.statuses == std::vector<int>{10 << 8, 12 << 8}, "a's and c's statuses");
    f.check(owner.others.empty(), "the replaced member is never called");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, AHandlerMayAttachItsSubscriptionToANewChild) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    owner.expected = 3;
    ChildWait wait;
    wait.Bind(&owner, &Owner::on_exit);
    owner.action = [&] {
      if (owner.statuses.size() < 3) wait.Attach(spawn(static_cast<int>(owner.statuses.size())));
    };
    wait.Attach(spawn(9));
    f.check(Loop().run(), "three generations notified");
    f.check(owner.statuses == std::vector<int>{9 << 8, 1 << 8, 2 << 8}, "in order");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, AHandlerMayDestroyItsSubscription) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    Owner owner;
    auto wait = std::make_unique<ChildWait>();
    wait->Bind(&owner, &Owner::on_exit);
    owner.action = [&] { wait.reset(); };
    wait->Attach(spawn(4));
    f.check(Loop().run(), "notified");
    f.check(!wait, "destroyed inside its own call");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, ChildrenNobodyWaitsForAreReapedAndLogged) {
  std::string const failure = in_child([](test::Failures& f) {
    ClogCapture const log;
    ChildWait::Activate();
    FILE* const pipe = ::popen("exit 6", "r");
    f.check(pipe != nullptr, "popen");
    pid_t const plain = spawn(8);
    f.check(wait_until_reaped({plain}), "reaped without a subscriber");
    // pclose only once the service has reaped the shell too: a pclose waiting for a shell
    // still running would race the handler for its status.
    auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kGiveUpMs);
    while (log.text().find(" status=1536\n") == std::string::npos && std::chrono::steady_clock::now() < deadline)
      Loop().drain(10);
    if (pipe) f.equal(::pclose(pipe), -1, "pclose finds no status: the service took it");
    Loop().drain(50);
    f.check(log.text().find("terminate child process, pid=" + std::to_string(plain) + " status=2048\n") !=
                std::string::npos,
            "logged: " + log.text());
    f.check(log.text().find(" status=1536\n") != std::string::npos, "the shell's end logged: " + log.text());
    f.check(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD, "no child left");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, TheSignalHandlerKeepsErrno) {
  std::string const failure = in_child([](test::Failures& f) {
    ChildWait::Activate();
    errno = EDOM;
    ::raise(SIGCHLD);  // nothing to reap: waitpid fails with ECHILD inside the handler
    f.equal(errno, EDOM, "errno after the handler");
  });
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, AFullSocketPairDropsRecordsButNeverBlocksTheHandler) {
  // The pair holds a few hundred records; 600 children ending while the loop does not
  // read overflow it. A blocking write would hang the handler (and the alarm would end
  // the test); every child must be reaped anyway.
  std::string const failure = in_child(
      [](test::Failures& f) {
        ChildWait::Activate();
        Owner owner;
        owner.expected = -1;
        constexpr int kChildren = 600;
        std::vector<pid_t> pids;
        std::vector<std::unique_ptr<ChildWait>> waits;
        for (int i = 0; i < kChildren; ++i) {
          pids.push_back(spawn(0));
          waits.push_back(std::make_unique<ChildWait>());
          waits.back()->Bind(&owner, &Owner::on_exit);
          waits.back()->Attach(pids.back());
        }
        f.check(wait_until_reaped(pids), "every child reaped");
        f.check(::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD, "no zombie left");
        Loop().drain(200);
        int attached = 0;
        for (auto const& wait : waits) attached += wait->is_attached() ? 1 : 0;
        f.equal(static_cast<int>(owner.statuses.size()) + attached, kChildren, "notified plus still waiting");
        f.check(attached > 0, "some records were dropped (the pair was full)");
        f.check(!owner.statuses.empty(), "the records that fitted were delivered");
      },
      20);
  EXPECT_EQ(failure, "");
}

TEST(ChildWait, WithoutASocketPairTheHandlerStillReaps) {
  std::string const failure = in_child([](test::Failures& f) {
    std::ostringstream errors;
    std::streambuf* const previous = std::cerr.rdbuf(errors.rdbuf());
    f.check(test::fail_system_call(__NR_socketpair, EMFILE), "seccomp filter installed");
    ChildWait::Activate();
    std::cerr.rdbuf(previous);
    f.equal(errors.str(), "ChildWaitService: initialize fails\n", "message");
    pid_t const pid = spawn(1);
    f.check(wait_until_reaped({pid}), "reaped by the handler that only reaps");
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
