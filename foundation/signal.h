#pragma once
// Signal dispositions. Each call returns the result of the underlying call (0 on
// success). Handlers installed here only set flags or write to a descriptor.

#include <csignal>

namespace IPC::Signal {

class Set {
public:
  Set();
  Set(int a, int b);
  Set(int a, int b, int c);
  void add(int sig);
  void copy_to(sigset_t& out) const;
  static bool is_signal(int sig);

private:
  sigset_t m_set;
};

int ignore(int sig);
int system(int sig);

// Plain handlers: SA_SIGINFO is dropped from flags.
int handle(int sig, void (*fn)(int), Set const& mask, int flags);
int handle(int sig, void (*fn)(int), int flags);
// Handlers that get the signal information: SA_SIGINFO is added to flags.
int handle(int sig, void (*fn)(int, siginfo_t*, void*), Set const& mask, int flags);
int handle(int sig, void (*fn)(int, siginfo_t*, void*), int flags);

// Whether calls interrupted by sig restart (disable_int) or fail with EINTR (enable_int).
int disable_int(int sig);
int enable_int(int sig);

}  // namespace IPC::Signal
