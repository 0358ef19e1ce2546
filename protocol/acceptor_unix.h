#pragma once
// The listening side of a local-socket service: listens on a socket path, takes one peer
// at a time and refuses newcomers while a link is up, as the TCP acceptor does.

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/timer.h"
#include "protocol/accept_pause.h"
#include "protocol/control_service.h"

namespace Control {

class AcceptorUnix : public ServiceUnix {
public:
  AcceptorUnix();
  explicit AcceptorUnix(std::string const& path);
  ~AcceptorUnix() override;

  static constexpr unsigned kBindRetryMs = 5000;

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override {}
  virtual void ImplRefuseConnection() {}
  virtual void ImplConnected(Fd) {}

  void BindSocket();
  void OnTimeout(Timer*) { BindSocket(); }
  void OnSocketEvent(int fd, short revents);

  // The accept call, replaceable in tests; `length` holds the record's size on entry.
  virtual int DoAccept(int fd, sockaddr_un& peer, socklen_t& length);

private:
  void Take(Fd socket, std::string const& peer);

  std::string m_path;
  Fd m_listen;
  Timer m_bind_timer;
  AcceptPause m_accept_pause;
  Event m_socket_event;
};

}  // namespace Control
