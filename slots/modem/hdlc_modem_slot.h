#pragma once
// The digital modem: PPP over one synchronous HDLC network interface of the host, given
// by the factory. When the connection rule first asks for a stream, the slot reads the
// interface's timeslot word (its channel), switches the interface to PPP framing and
// runs the PPP daemon on it; its failures are only logged. A stream is claimed only once
// the channel is known. On its end the slot gives the interface back to the factory,
// then takes it down and switches it back to raw HDLC.

#include <string>

#include "slots/modem/modem_slot.h"

class HdlcModemSlot : public ModemSlot {
public:
  HdlcModemSlot(TERM::ModemParams const& params, std::string const& interface)
      : ModemSlot(params), m_interface(interface) {}
  // Gives the interface back (once), kills a PPP daemon still running, then the teardown.
  ~HdlcModemSlot() override;

  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return m_channel; }
  int IGetReceiveChannel() override { return m_channel; }
  std::string GetName() const override { return "digital-modem"; }
  // No session of the authentication link is ever this slot's.
  int modem_id() const override { return -1; }
  void unbind() override;

  std::string const& deviceName() const { return m_interface; }
  // The start; nothing while the PPP daemon runs.
  void initModem();

private:
  // Down, and back to raw HDLC.
  void Teardown();

  int m_channel = -1;
  std::string m_interface;
};
