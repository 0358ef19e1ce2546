#pragma once
// The factory of the modem slots. It counts the modems of the board's modem controller
// and lists the host's free synchronous HDLC interfaces ("hdlc<n>", point-to-point, not
// loopback, not held by a live digital modem). A create asking for digital data modes
// takes the first free interface for a digital modem slot; every other modem create
// makes a DSP modem slot, which takes a modem only when its stream starts, so a create
// succeeds even when none is free.
//
// It also serves the local PPP authentication agent on 127.0.0.1:52000: records from a
// connection go to the modem slot of their session, and the slots' records go back to
// the connection whose last record named the same session.

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/inet.h"
#include "protocol/accept_pause.h"
#include "server/slot_factory.h"
#include "slots/modem/auth_records.h"

class AuthClient;
class DspModemSlot;
class HdlcModemSlot;
class ModemSlot;

class ModemFactory : public SlotFactory {
public:
  static constexpr char kAuthAddress[] = "127.0.0.1";
  static constexpr std::uint16_t kAuthPort = 52000;
  static constexpr int kAuthBacklog = 64;
  // Live agent connections: each PPP daemon may hold one, and up to 256 interfaces are
  // listed. Each costs two descriptors, so they hold at most half the usual 1024; a
  // connection beyond is closed at once.
  static constexpr std::size_t kMaxAuthClients = 256;

  static ModemFactory& instance();
  // Deletes the connections still open.
  ~ModemFactory() override;

  std::string GetName() const override { return "Modem"; }
  Slot* INewSlot(LGCP::CreateParams const& params) override;
  void Query(LGCP::Resources& resources) override;

  // Called by the slots' unbind().
  void ReleaseModemSlot(DspModemSlot* slot);
  void ReleaseModemSlot(HdlcModemSlot* slot);
  // Sends a record to the agent connection of its session; false when there is none or
  // the write failed. Only connections that sent a complete record have a session.
  bool SendAuth(attr const* record);
  // A complete record from a connection, handed to the first slot of its session.
  void OnAuth(attr const* record);
  void OnSocketEvent(int fd, short revents);
  // A connection has closed: it is deleted.
  void OnAuthSocketDisconnect(AuthClient* client);
  // Takes a connected, non-blocking socket as an agent connection and starts reading it;
  // null, with the socket closed, when the loop cannot watch it.
  AuthClient* AddClient(Fd socket, INet4::Addr const& peer);

  // Starts the authentication server.
  void Init();
  // Counts the modems and lists the free interfaces again.
  void IQuery();
  void update_modemDevices();
  void update_hdlcDevices();

  int modems_found() const { return m_modems_found; }
  std::vector<ModemSlot*> const& modem_slots() const { return m_modem_slots; }
  std::vector<DspModemSlot*> const& dsp_slots() const { return m_dsp_slots; }
  std::vector<std::string> const& free_interfaces() const { return m_free_interfaces; }
  std::vector<AuthClient*> const& auth_clients() const { return m_auth_clients; }
  bool auth_listening() const { return m_auth_event.IsActive(); }
  // "modem[<modems found>,<live modem slots>]: "
  void PutHeader(std::ostream& os) const;

private:
  ModemFactory();
  bool holds(std::string const& interface) const;

  std::vector<DspModemSlot*> m_dsp_slots;
  std::vector<HdlcModemSlot*> m_digital_slots;
  // Every live modem slot, in creation order: searched for sessions.
  std::vector<ModemSlot*> m_modem_slots;
  int m_modems_found = 0;
  Fd m_auth_server;
  Event m_auth_event;
  AcceptPause m_accept_pause;
  // In accept order.
  std::vector<AuthClient*> m_auth_clients;
  // The synchronous network interfaces no slot holds.
  std::vector<std::string> m_free_interfaces;
};
