#include "protocol/control_service.h"

#include <cstring>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <sys/socket.h>

#include "foundation/profile.h"
#include "protocol/strm_protocol.h"
#include "protocol/tpkt_protocol.h"

namespace Control {

Service::Service(bool verbose) : m_verbose(verbose) {
  m_stream = static_cast<StrmProtocol*>(add_protocol_tail(new StrmProtocol));
  add_protocol_tail(new Tpkt_protocol);
  m_dpc.Bind(this, &Service::OnDeactivateDPC);
}

Service::~Service() = default;

void Service::service_name(std::string const& name) { m_stream->service_name(name); }
std::string const& Service::service_name() const { return m_stream->service_name(); }
unsigned Service::GetOverflowCounter() const { return m_stream->GetOverflowCounter(); }
Measure const& Service::get_read_measure() const { return m_stream->get_read_measure(); }
Measure const& Service::get_write_measure() const { return m_stream->get_write_measure(); }
void Service::Release() { m_stream->release(); }

bool Service::Activate() {
  Deactivate();
  m_state = State::Connecting;
  bool const ok = ImplActivate();
  if (!ok) m_state = State::Idle;
  return ok;
}

void Service::Deactivate() {
  ImplDeactivate();
  m_state = State::Idle;
}

void Service::Disconnect() {
  // Only a live link has anything to close; a second call before the deferred end, or a
  // call with no link, does nothing.
  if (m_state != State::Connected) return;
  deactivate();
}

void Service::Send(char const* data, int length) {
  if (m_state == State::Deactivating) return;
  if (m_state != State::Connected) {
    if (m_verbose)
      std::cerr << "Control::Service::Send() ignore Send request in " << m_state << " state." << std::endl;
    return;
  }
  if (length < 0 || length > kMaxMessage) {
    std::cerr << "Control::Service::Send() refuse a message of " << length << " bytes (at most " << kMaxMessage
              << " fit a frame)" << std::endl;
    return;
  }
  static Profile::Point build("Control::Service::Send [1]");
  static Profile::Point write("Control::Service::Send [2]");
  Packet packet;
  build.begin();
  try {
    prepare_head(packet);
  } catch (std::bad_alloc const&) {
    build.end();
    std::cerr << "send fail" << std::endl;
    return;
  }
  if (length) std::memcpy(packet.put(static_cast<unsigned>(length)), data, static_cast<std::size_t>(length));
  build.end();
  write.begin();
  top()->message(packet);
  write.end();
}

void Service::TakeConnection(Fd socket, std::string const& peer) {
  if (m_state == State::Deactivating) return;
  m_peer = peer;
  m_state = State::Connected;
  m_stream->attach(std::move(socket));
  activate();
  if (m_listener) m_listener->OnConnect();
}

void Service::on_message(Packet& p) {
  if (m_state == State::Deactivating || !m_listener) return;
  m_listener->OnMessage(reinterpret_cast<char const*>(p.length() ? p.cdata() : nullptr), static_cast<int>(p.length()));
}

void Service::on_deactivated(Protocol*, ProtocolStatus) {
  if (m_verbose) std::cerr << "control connection " << m_peer << " closed." << std::endl;
  m_state = State::Deactivating;
  m_dpc.Activate();
}

void Service::OnDeactivateDPC() {
  m_dpc.Deactivate();
  m_state = State::Connecting;
  ImplOnDisconnect();
  if (m_listener) m_listener->OnDisconnect();
}

char const* GetTextNotation(Service::State::Type state) {
  switch (state) {
    case Service::State::Idle: return "Idle";
    case Service::State::Connecting: return "Connecting";
    case Service::State::Deactivating: return "Deactivating";
    case Service::State::Connected: return "Connected";
  }
  return "Unknown";
}

std::ostream& operator<<(std::ostream& os, Service::State::Type state) { return os << GetTextNotation(state); }

void ServiceNet::Connected(Fd socket, INet4::Addr const& address) {
  if (GetState() == State::Deactivating) return;
  int const on = 1;
  if (::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 && verbose())
    std::cerr << "fail set keepalive to control socket." << std::endl;
  if (::setsockopt(socket.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 && verbose())
    std::cerr << "fail to turn off Nagle algorithm." << std::endl;
  m_address = address;
  TakeConnection(std::move(socket), address.GetString());
}

}  // namespace Control
