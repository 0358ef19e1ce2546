#include "boardsim/model.h"

#include <iostream>
#include <sys/socket.h>

#include "boardsim/sim.h"

namespace BoardSim {

bool Model::Open::deliver(void const* record, std::size_t len) {
  ssize_t const sent = ::send(m_end.lowlevel_fd(), record, len, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(len)) return true;
  Errno const error;
  std::cerr << "boardsim: " << m_model->path() << " event of " << len << " bytes not delivered: " << error
            << '\n';
  return false;
}

std::unique_lock<std::mutex> Model::lock() const { return m_sim->enter(); }

}  // namespace BoardSim
