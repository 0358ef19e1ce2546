#pragma once
// The connecting side of a local-socket service: connects to a listening socket path,
// optionally from a socket bound to a path of its own, and reconnects with the TCP
// connector's delays whenever an attempt fails or the link goes down.

#include <string>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/timer.h"
#include "protocol/connect_retry.h"
#include "protocol/control_service.h"

namespace Control {

class ConnectorUnix : public ServiceUnix {
public:
  ConnectorUnix();
  explicit ConnectorUnix(std::string const& path);
  ConnectorUnix(std::string const& path, std::string const& localPath);
  ~ConnectorUnix() override;

  static constexpr int kFastRetries = ConnectRetry::kFastRetries;
  static constexpr unsigned kFastRetryMs = ConnectRetry::kFastRetryMs;
  static constexpr unsigned kConnectFailedMs = 20000;  // connect itself failed
  static constexpr unsigned kPollErrorMs = 15000;      // poll reported an error on the new link
  static constexpr unsigned kReconnectMs = ConnectRetry::kReconnectMs;

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnTimeout(Timer*) { TryConnect(); }
  void OnSocketEvent(int fd, short revents);

private:
  void Retry(unsigned long_delay);

  std::string m_path;
  std::string m_local_path;
  Fd m_connect;
  ConnectRetry m_retry;
  Event m_socket_event;
};

}  // namespace Control
