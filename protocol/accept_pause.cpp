#include "protocol/accept_pause.h"

#include <cerrno>
#include <iostream>
#include <poll.h>

#include "foundation/fd.h"

bool AcceptPause::OnAcceptFailed(Event& listen) {
  switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case EINTR:
    case ECONNABORTED: return false;
    default: break;
  }
  Errno const error;
  std::cerr << "can't accept connection: " << error << std::endl;
  listen.SetEvents(0);
  m_listen = &listen;
  m_timer.set(kPauseMs, &AcceptPause::OnTimeout, this);
  return true;
}

void AcceptPause::OnTimeout(Timer*) {
  if (m_listen) m_listen->SetEvents(POLLIN);
}
