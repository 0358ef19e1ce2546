#pragma once
// A modem or fax channel of the board's modem controller. Its audio is a TDM timeslot,
// so it connects like any switch endpoint; its data side is the modem's terminal, on
// which the PPP daemon runs, or a fax program takes the modem instead.
//
// The modem is set up when the connection rule first asks for either stream: allocated,
// programmed, both streams reported active on its timeslot, then the answer, the call,
// or the fax started. A set-up that failed claims no stream, so the connect fails and
// the next one tries again; a completed one is never repeated.

#include <ctime>
#include <string>
#include <vector>

#include "foundation/fd.h"
#include "slots/modem/modem_slot.h"

class DspModemSlot : public ModemSlot {
public:
  explicit DspModemSlot(TERM::ModemParams const& params) : ModemSlot(params) {}
  // Closes the device, then kills a child still running.
  ~DspModemSlot() override;

  bool IOnOutputStream() override;
  bool IOnInputStream() override;
  int IGetTransmitChannel() override { return m_timeslot; }
  int IGetReceiveChannel() override { return m_timeslot; }
  std::string GetName() const override { return "dsp-modem"; }
  int modem_id() const override { return m_modem; }
  void unbind() override;

  // The set-up; does nothing once a modem is set up.
  void InitModem();

  // The fax sender's argument list: execfile or "/usr/local/sbin/fax", "-m", the modem,
  // then execargs (at most 60).
  static std::vector<std::string> FaxSenderArguments(TERM::ModemParams const& params, int modem);
  // The fax receiver's: "/usr/local/bin/fax", "-m", the modem, "receive" and the file
  // named by the local time `now`.
  static std::vector<std::string> FaxReceiverArguments(int modem, std::time_t now);

private:
  // Starts the answer, the call or the fax on the set-up modem; `local` is the set-up's
  // own handle on the device.
  void Start(Fd& local);
  void RunFaxSender(Fd& local);
  void RunFaxReceiver();
  void on_fax_terminate(int status);
  // "modem=<m> ts=<t>", the end of the fax programs' start lines.
  void PutModem(std::ostream& os) const;

  Fd m_device;
  int m_timeslot = -1;
  int m_modem = -1;
};
