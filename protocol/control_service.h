#pragma once
// A message connection to one peer over a two-layer stack (socket stream under TPKT).
// Subclasses obtain a connected socket (by accepting or connecting) and hand it over
// through ServiceNet::Connected or ServiceUnix::Connected; the service turns each received body into one
// OnMessage call of its listener and frames each Send. The end of a link is reported to
// the listener on the next loop pass, never inside the call that found it.

#include <ostream>
#include <string>
#include <utility>

#include "foundation/dpc.h"
#include "foundation/fd.h"
#include "foundation/inet.h"
#include "foundation/measure.h"
#include "protocol/protocol.h"

class StrmProtocol;

namespace Control {

class Notify {
public:
  virtual ~Notify() = default;
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // One whole message; the bytes are valid only during the call.
  virtual void OnMessage(char const* data, int length) = 0;
};

class Service : private ProtocolsFamily {
public:
  struct State {
    enum Type : int { Idle = 0, Connecting = 1, Deactivating = 2, Connected = 3 };
  };

  // Largest message one TPKT frame carries.
  static constexpr int kMaxMessage = 65531;

  explicit Service(bool verbose = true);
  ~Service() override;

  void service_name(std::string const& name);
  std::string const& service_name() const;
  void Bind(Notify* listener) { m_listener = listener; }
  void UnBind() { m_listener = nullptr; }
  bool Activate();
  void Deactivate();
  void Disconnect();
  void Send(char const* data, int length);

  State::Type GetState() const { return m_state; }
  bool IsConnected() const { return m_state == State::Connected; }
  std::string const& GetAddr() const { return m_peer; }
  unsigned GetOverflowCounter() const;
  Measure const& get_read_measure() const;
  Measure const& get_write_measure() const;
  // Closes the link's socket without any report.
  void Release();

protected:
  virtual bool ImplActivate() = 0;
  virtual void ImplDeactivate() = 0;
  virtual void ImplOnDisconnect() = 0;

  // Takes a connected socket: peer name, state Connected, stack activated, the
  // listener's OnConnect. Ignored while the service is Deactivating.
  void TakeConnection(Fd socket, std::string const& peer);
  bool verbose() const { return m_verbose; }

private:
  void on_message(Packet& p) override;
  void on_activated(Protocol*) override {}
  void on_deactivated(Protocol* layer, ProtocolStatus status) override;
  void OnDeactivateDPC();

  std::string m_peer;
  bool m_verbose;
  State::Type m_state = State::Idle;
  Notify* m_listener = nullptr;
  StrmProtocol* m_stream;
  Dpc m_dpc;
};

char const* GetTextNotation(Service::State::Type state);
std::ostream& operator<<(std::ostream& os, Service::State::Type state);

// The TCP variant: keeps the peer's address.
class ServiceNet : public Service {
public:
  using Service::Service;
  INet4::Addr const& peer_address() const { return m_address; }

protected:
  void Connected(Fd socket, INet4::Addr const& address);

private:
  INet4::Addr m_address;
};

// The local-socket variant: the peer is named by a text (a socket path), and a local
// socket has neither keep-alive nor no-delay.
class ServiceUnix : public Service {
public:
  ServiceUnix() = default;

protected:
  void Connected(Fd socket, std::string const& peer) { TakeConnection(std::move(socket), peer); }
};

}  // namespace Control
