#pragma once
// The connecting side of a TCP service: connects out to one peer (dotted IPv4 address and
// port, no name lookup) and reconnects whenever an attempt fails or the link goes down.
// Each activation gets seven quick retries (1000 ms apart); later failures wait the long
// delay of their kind, and a lost link is tried again after 10000 ms.

#include <cstdint>
#include <string>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/timer.h"
#include "protocol/connect_retry.h"
#include "protocol/control_service.h"

namespace Control {

class ConnectorNet : public ServiceNet {
public:
  ConnectorNet();
  ConnectorNet(std::string const& host, unsigned short port);
  explicit ConnectorNet(std::string const& address);
  ~ConnectorNet() override;

  static constexpr int kFastRetries = ConnectRetry::kFastRetries;
  static constexpr unsigned kFastRetryMs = ConnectRetry::kFastRetryMs;
  static constexpr unsigned kConnectFailedMs = 20000;  // connect itself failed
  static constexpr unsigned kPollErrorMs = 15000;      // poll reported an error on the pending connect
  static constexpr unsigned kSocketErrorMs = 12000;    // the pending connect ended with an error
  static constexpr unsigned kReconnectMs = ConnectRetry::kReconnectMs;

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;

  void TryConnect();
  void OnTimeout(Timer*) { TryConnect(); }
  void OnSocketEvent(int fd, short revents);

  // The connect call, replaceable in tests (loopback never completes a TCP connect at once).
  virtual int DoConnect(int fd, INet4::Addr const& peer);

private:
  INet4::Addr PeerAddress(bool* valid = nullptr) const;
  // The peer as configured, for a line about a text that is no address.
  std::string ConfiguredPeer() const;
  void Retry(unsigned long_delay);
  void Established(INet4::Addr const& peer);

  std::uint16_t m_port = 0;
  std::string m_host;
  bool m_unusable = false;  // the one-text form did not parse: the whole text is in m_host
  Fd m_connect;
  ConnectRetry m_retry;
  Event m_socket_event;
};

}  // namespace Control
