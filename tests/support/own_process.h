#pragma once
// Runs a test body in a forked child of its own, for what must not touch the test
// process: a SIGCHLD handler that reaps every child, a changed mount namespace, process-
// wide streams rerouted by daemon mode.

#include <functional>
#include <sstream>
#include <string>

namespace test {

// body returns "" when its checks pass, else what failed. The result is "" on success,
// else the body's failure, its exception, or how the child ended (killed, for example,
// by the alarm that ends a child still running after `seconds`). Callers assert that
// it is empty.
std::string in_own_process(std::function<std::string()> const& body, unsigned seconds = 120);

// From here on the system call `number` fails with `error` in this process, as when it
// has no free descriptor (running out of descriptors for real would also starve the
// sanitizers, which need some for their own checks). For a body in its own process only.
bool fail_system_call(long number, int error);

// Text with its control bytes shown as \n, \0, \xNN, for failure messages.
std::string printable(std::string const& text);

// Collects the failed checks of a body that runs in a child; result() is what it returns.
class Failures {
public:
  void check(bool ok, std::string const& what) {
    if (!ok) m_text += what + "\n";
  }
  template <class A, class B>
  void equal(A const& actual, B const& expected, std::string const& what) {
    std::ostringstream a, e;
    a << actual;
    e << expected;
    if (a.str() != e.str() || !(actual == expected))
      m_text += what + ": got \"" + printable(a.str()) + "\", expected \"" + printable(e.str()) + "\"\n";
  }
  std::string const& result() const { return m_text; }

private:
  std::string m_text;
};

}  // namespace test
