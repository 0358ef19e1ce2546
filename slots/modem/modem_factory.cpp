#include "slots/modem/modem_factory.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <net/if.h>
#include <poll.h>
#include <sys/socket.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "hardware/device_names.h"
#include "slots/modem/auth_client.h"
#include "slots/modem/dsp_modem_slot.h"
#include "slots/modem/hdlc_interface.h"
#include "slots/modem/hdlc_modem_slot.h"

namespace {

constexpr int kMaxInterfaces = 256;

template <class T>
void erase(std::vector<T*>& list, T* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

ModemFactory& ModemFactory::instance() {
  static ModemFactory factory;
  return factory;
}

ModemFactory::ModemFactory() {
  IQuery();
  Init();
  m_auth_event.Bind("ModemFactory::OnSocketEvent", &ModemFactory::OnSocketEvent, this);
}

ModemFactory::~ModemFactory() {
  m_accept_pause.Cancel();
  for (AuthClient* client : m_auth_clients) delete client;
}

void ModemFactory::PutHeader(std::ostream& os) const {
  os << "modem[" << std::dec << m_modems_found << ',' << m_modem_slots.size() << "]: ";
}

void ModemFactory::Init() {
  Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(kAuthPort);
  address.sin_addr.s_addr = ::inet_addr(kAuthAddress);
  // Connections of an earlier run left in TIME_WAIT would otherwise keep the port.
  int const on = 1;
  if (!server || ::setsockopt(server.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(server.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to bind auth socket: " << error << std::endl;
    return;
  }
  if (::listen(server.lowlevel_fd(), kAuthBacklog) != 0) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to listen auth socket: " << error << std::endl;
    return;
  }
  if (!server.NonBlock()) {
    Errno const error;
    std::cerr << ext::header(this) << "can't set socket to non block mode: " << error << std::endl;
    return;
  }
  m_auth_server = std::move(server);
  m_auth_event.Schedule(m_auth_server, POLLIN);
}

void ModemFactory::OnSocketEvent(int, short revents) {
  if (revents & (POLLERR | POLLHUP)) {
    std::cerr << ext::header(this) << "auth server socket error." << std::endl;
    m_accept_pause.Cancel();
    m_auth_event.Release();
    m_auth_server.close();
    m_auth_event.UnBind();  // this handler: nothing below touches the event
    return;
  }
  if (!(revents & POLLIN)) return;
  INet4::Addr peer;
  socklen_t length = INet4::Addr::size();
  Fd socket(::accept4(m_auth_server.lowlevel_fd(), peer, &length, SOCK_CLOEXEC));
  int const accept_error = errno;
  if (!socket.NonBlock()) {
    std::cerr << ext::header(this) << "fail to set nonblock mode." << std::endl;
    if (socket) return;
    // What accept itself said decides the pause, not the attempt on no descriptor.
    errno = accept_error;
    m_accept_pause.OnAcceptFailed(m_auth_event);
    return;
  }
  // Accepted all the same: a listener left readable would be reported on every pass.
  if (m_auth_clients.size() >= kMaxAuthClients) {
    std::cerr << ext::header(this) << "auth connection from " << peer << " refused: " << std::dec
              << kMaxAuthClients << " connections open." << std::endl;
    return;
  }
  // The event said why when it could not take the socket.
  if (!AddClient(std::move(socket), peer)) return;
  std::cerr << ext::header(this) << "incoming auth connection from " << peer << std::endl;
}

AuthClient* ModemFactory::AddClient(Fd socket, INet4::Addr const& peer) {
  auto* const client = new AuthClient(std::move(socket), peer, *this);
  if (!client->Activate()) {
    delete client;
    return nullptr;
  }
  m_auth_clients.push_back(client);
  return client;
}

void ModemFactory::OnAuthSocketDisconnect(AuthClient* client) {
  std::clog << ext::header(this) << "auth client " << client->GetAddr() << " disconnected." << std::endl;
  erase(m_auth_clients, client);
  delete client;
}

void ModemFactory::OnAuth(attr const* record) {
  auto const session = static_cast<int>(record->session);
  for (ModemSlot* slot : m_modem_slots) {
    if (!slot->EqAuthId(session)) continue;
    slot->OnAuth(record);
    return;
  }
  std::cerr << ext::header(this) << "receive auth request for unknown session " << std::dec << record->session
            << std::endl;
}

bool ModemFactory::SendAuth(attr const* record) {
  for (AuthClient* client : m_auth_clients) {
    // A connection that never named its session is no session's.
    if (!client->HasSession() || client->GetSessionId() != record->session) continue;
    // The client may be gone once Send returns.
    return client->Send(record);
  }
  std::clog << ext::header(this) << "send error: unknown auth " << std::dec << record->session << " session."
            << std::endl;
  return false;
}

void ModemFactory::IQuery() {
  update_modemDevices();
  update_hdlcDevices();
}

void ModemFactory::update_modemDevices() {
  m_modems_found = 0;
  Board::Io& io = Board::io();
  char const* const name = GetModemDevName();
  Fd const device(io.open(name, O_RDWR));
  if (!device) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to open " << ext::quoted(name) << " : " << error << std::endl;
    return;
  }
  for (int previous = -1;;) {
    int const next = io.ioctl_value(device.lowlevel_fd(), Board::MCTL_NEXT_MODEM, static_cast<std::uint32_t>(previous));
    if (next < 0) {
      Errno const error;
      if (error.value() != ENODEV) std::cerr << ext::header(this) << "enum fail: " << error << std::endl;
      return;
    }
    // A driver that does not move on would hold this loop for ever.
    if (next <= previous) {
      std::cerr << ext::header(this) << "enum fail: modem numbers out of order" << std::endl;
      return;
    }
    ++m_modems_found;
    previous = next;
  }
}

bool ModemFactory::holds(std::string const& interface) const {
  return std::any_of(m_digital_slots.begin(), m_digital_slots.end(),
                     [&](HdlcModemSlot const* slot) { return slot->deviceName() == interface; });
}

void ModemFactory::update_hdlcDevices() {
  m_free_interfaces.clear();
  HdlcInterface net;
  if (!net.is_open()) return;
  for (int i = 0; i < kMaxInterfaces; ++i) {
    std::string const name = "hdlc" + std::to_string(i);
    short flags = 0;
    if (net.index(name) != 0 || net.flags(name, flags) != 0) break;
    // An interface a live digital modem holds is not free, whatever the host says of it.
    if ((flags & IFF_POINTOPOINT) && !(flags & IFF_LOOPBACK) && !holds(name)) m_free_interfaces.push_back(name);
  }
  if (m_free_interfaces.empty()) return;
  std::clog << "found point-o-point devices:";
  for (std::string const& name : m_free_interfaces) std::clog << ' ' << name;
  std::clog << std::endl;
}

void ModemFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_modem(m_modems_found);
  resources.set_digital_modems(static_cast<int>(m_free_interfaces.size()));
}

Slot* ModemFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.modem_isSelected()) return nullptr;
  TERM::ModemParams const& modem = params.get_modem();
  if (modem.ddm_isPresent() && !modem.get_ddm().empty() && !m_free_interfaces.empty()) {
    std::string const interface = m_free_interfaces.front();
    m_free_interfaces.erase(m_free_interfaces.begin());
    auto* const slot = new HdlcModemSlot(modem, interface);
    m_modem_slots.push_back(slot);
    m_digital_slots.push_back(slot);
    return slot;
  }
  auto* const slot = new DspModemSlot(modem);
  m_modem_slots.push_back(slot);
  m_dsp_slots.push_back(slot);
  return slot;
}

void ModemFactory::ReleaseModemSlot(DspModemSlot* slot) {
  erase<ModemSlot>(m_modem_slots, slot);
  erase(m_dsp_slots, slot);
}

void ModemFactory::ReleaseModemSlot(HdlcModemSlot* slot) {
  erase<ModemSlot>(m_modem_slots, slot);
  erase(m_digital_slots, slot);
  std::string const& interface = slot->deviceName();
  if (std::find(m_free_interfaces.begin(), m_free_interfaces.end(), interface) == m_free_interfaces.end())
    m_free_interfaces.push_back(interface);
}
