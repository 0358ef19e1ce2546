#include "foundation/signal.h"

namespace IPC::Signal {

Set::Set() { sigemptyset(&m_set); }

Set::Set(int a, int b) : Set() {
  add(a);
  add(b);
}

Set::Set(int a, int b, int c) : Set(a, b) { add(c); }

void Set::add(int sig) { sigaddset(&m_set, sig); }

void Set::copy_to(sigset_t& out) const { out = m_set; }

bool Set::is_signal(int sig) {
  sigset_t empty;
  sigemptyset(&empty);
  return sigismember(&empty, sig) >= 0;
}

namespace {

int install(int sig, struct sigaction& action, Set const& mask) {
  mask.copy_to(action.sa_mask);
  return ::sigaction(sig, &action, nullptr);
}

int set_disposition(int sig, void (*disposition)(int)) {
  struct sigaction action {};
  action.sa_handler = disposition;
  return install(sig, action, Set());
}

// siginterrupt() is deprecated; this is what it does.
int set_restart(int sig, bool restart) {
  struct sigaction action;
  if (::sigaction(sig, nullptr, &action) != 0) return -1;
  if (restart)
    action.sa_flags |= SA_RESTART;
  else
    action.sa_flags &= ~SA_RESTART;
  return ::sigaction(sig, &action, nullptr);
}

}  // namespace

int ignore(int sig) { return set_disposition(sig, SIG_IGN); }

int system(int sig) { return set_disposition(sig, SIG_DFL); }

int handle(int sig, void (*fn)(int), Set const& mask, int flags) {
  struct sigaction action {};
  action.sa_handler = fn;
  action.sa_flags = flags & ~SA_SIGINFO;
  return install(sig, action, mask);
}

int handle(int sig, void (*fn)(int), int flags) { return handle(sig, fn, Set(), flags); }

int handle(int sig, void (*fn)(int, siginfo_t*, void*), Set const& mask, int flags) {
  struct sigaction action {};
  action.sa_sigaction = fn;
  action.sa_flags = flags | SA_SIGINFO;
  return install(sig, action, mask);
}

int handle(int sig, void (*fn)(int, siginfo_t*, void*), int flags) { return handle(sig, fn, Set(), flags); }

int disable_int(int sig) { return set_restart(sig, true); }

int enable_int(int sig) { return set_restart(sig, false); }

}  // namespace IPC::Signal
