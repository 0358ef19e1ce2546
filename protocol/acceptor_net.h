#pragma once
// The listening side of a TCP service: listens on one port on every local address, takes
// one peer at a time and refuses newcomers while a link is up. The checking variant (the
// controller link) also checks the link every 1000 ms and, once a newcomer has been
// refused, watches the link with aggressive keep-alive so that a dead one gives way.

#include <cstdint>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/timer.h"
#include "protocol/accept_pause.h"
#include "protocol/control_service.h"

namespace Control {

// Keep-alive sets: on/off, idle and interval seconds, probe count.
inline constexpr int TCPKeepAlive = 1;
inline constexpr int TCPKeepAliveIdle = 1;
inline constexpr int TCPKeepAliveIntvl = 1;
inline constexpr int TCPKeepAliveCnt = 3;
inline constexpr int TCPKeepAliveDefault = 1;
inline constexpr int TCPKeepAliveIdleDefault = 7200;
inline constexpr int TCPKeepAliveIntvlDefault = 75;
inline constexpr int TCPKeepAliveCntDefault = 9;

class AcceptorNet : public ServiceNet {
public:
  AcceptorNet() : AcceptorNet(0) {}
  explicit AcceptorNet(int port, bool verbose = true);
  ~AcceptorNet() override;

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

  // The accept call, replaceable in tests (running a process out of descriptors on
  // purpose also starves the sanitizers).
  virtual int DoAccept(int fd, INet4::Addr& peer);

private:
  void RetryBind();
  void Take(Fd socket, INet4::Addr const& peer);

  std::uint16_t m_port;
  Fd m_listen;
  Timer m_bind_timer;
  AcceptPause m_accept_pause;
  Event m_socket_event;
};

class AcceptorNetCheckConnection : public AcceptorNet {
public:
  enum class CheckConnectionState : std::int32_t { Idle = 0, CheckConnection = 1 };

  AcceptorNetCheckConnection() : AcceptorNetCheckConnection(0) {}
  explicit AcceptorNetCheckConnection(int port, bool verbose = true) : AcceptorNet(port, verbose) {}
  ~AcceptorNetCheckConnection() override;

  static constexpr unsigned kCheckPeriodMs = 1000;

  CheckConnectionState check_state() const { return m_check_state; }

protected:
  bool ImplActivate() override;
  void ImplDeactivate() override;
  void ImplOnDisconnect() override;
  void ImplRefuseConnection() override;
  void ImplConnected(Fd socket) override;

  void CheckConnection();
  void OnCheckConnectionTimeout(Timer*) { CheckConnection(); }
  void SetupKeepAlive(bool aggressive);

  // What the check reads of the link's socket; tests feed states that loopback never
  // produces. Each returns false when the read fails, with errno set.
  struct TcpState {
    std::uint8_t state;     // tcpi_state
    std::uint8_t ca_state;  // tcpi_ca_state
  };
  virtual bool ReadTcpState(int fd, TcpState& out);
  virtual bool ReadSocketError(int fd, int& error);

private:
  void LeaveWatch();

  Timer m_check_timer;
  Fd m_connection;
  CheckConnectionState m_check_state = CheckConnectionState::Idle;
  std::int32_t m_check_countdown = 0;
};

}  // namespace Control
