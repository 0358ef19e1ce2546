#include "foundation/child_wait.h"

#include <cerrno>
#include <iostream>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <utility>

#include "foundation/signal.h"

int ChildWait::UsageCounter = 0;
ChildWaitService* ChildWaitService::childWaitService = nullptr;

ChildWait::Init::Init() {
  if (++UsageCounter == 1) Initialize();
}

ChildWait::Init::~Init() {
  if (--UsageCounter == 0) Cleanup();
}

ChildWait::~ChildWait() {
  m_handler->~Handler();
  Detach();
}

void ChildWait::Attach(int pid) {
  m_pid = pid;
  if (ChildWaitService* const service = ChildWaitService::childWaitService) service->Attach(this);
}

void ChildWait::Detach() {
  if (ChildWaitService* const service = ChildWaitService::childWaitService) service->Detach(this);
}

void ChildWait::Initialize() { ChildWaitService::childWaitService = new ChildWaitService; }

void ChildWait::Cleanup() {
  // The signal handler must find no service before this one goes.
  delete std::exchange(ChildWaitService::childWaitService, nullptr);
}

void ChildWait::Activate() {
  if (ChildWaitService* const service = ChildWaitService::childWaitService) service->Activate();
}

void ChildWait::HandOut() {
  if (ChildWaitService* const service = ChildWaitService::childWaitService) service->HandOut();
}

ChildWaitService::~ChildWaitService() {
  m_event.Release();
  while (ChildWait* const wait = m_waits.remove_from_head()) wait->m_service = nullptr;
}

void ChildWaitService::Attach(ChildWait* wait) {
  Detach(wait);
  m_waits.insert_to_tail(wait);
  wait->m_service = this;
}

void ChildWaitService::Detach(ChildWait* wait) {
  if (wait->m_service != this) return;
  m_waits.remove(wait);
  wait->m_service = nullptr;
}

void ChildWaitService::Activate() {
  int pair[2];
  // Both ends non-blocking: the handler drops a record rather than block on a full pair.
  if (::socketpair(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pair) != 0) {
    std::cerr << "ChildWaitService: initialize fails" << std::endl;
  } else {
    m_write = Fd(pair[0]);
    Fd const read_end(pair[1]);
    m_event.Bind("ChildWaitService::OnChildEvent", &ChildWaitService::OnChildEvent, this);
    m_event.Schedule(read_end, POLLIN);
  }
  // Installed either way: without the pair it still reaps, so no child stays a zombie.
  IPC::Signal::handle(SIGCHLD, &ChildWaitService::SigChldHandlerWrapper, SA_RESTART);
}

void ChildWaitService::SigChldHandlerWrapper(int, siginfo_t*, void*) {
  if (ChildWaitService* const service = childWaitService) service->SigChldHandler();
}

void ChildWaitService::SigChldHandler() {
  int const saved_errno = errno;
  for (;;) {
    int status = 0;
    pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    int const fd = m_write.lowlevel_fd();
    if (fd < 0) continue;
    iovec parts[2] = {{&pid, sizeof pid}, {&status, sizeof status}};
    [[maybe_unused]] ssize_t const ignored = ::writev(fd, parts, 2);
  }
  errno = saved_errno;
}

void ChildWaitService::OnChildEvent(int fd, short revents) {
  if (!(revents & POLLIN)) return;
  for (;;) {
    pid_t pid = 0;
    int status = 0;
    iovec parts[2] = {{&pid, sizeof pid}, {&status, sizeof status}};
    if (::readv(fd, parts, 2) != static_cast<ssize_t>(sizeof pid + sizeof status)) return;
    std::clog << std::dec << "terminate child process, pid=" << pid << " status=" << status << std::endl;
    for (ChildWait* wait = m_waits.head(); wait; wait = wait->get_next()) {
      if (wait->m_pid != pid) continue;
      // Off the list before the call: the handler may attach, detach or destroy it.
      Detach(wait);
      wait->m_handler->Invoke(*wait, status);
      break;
    }
  }
}

void ChildWaitService::HandOut() {
  if (m_event.IsActive()) OnChildEvent(m_event.lowlevel_fd(), POLLIN);
}
