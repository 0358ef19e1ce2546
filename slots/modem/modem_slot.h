#pragma once
// What the two modem slot kinds share: the create parameters, the one child process of
// the slot (normally the PPP daemon) watched for its end, the relay between the local
// authentication agent and the controller, and the deferred destroy: while the child
// runs, a destroy sends it SIGHUP and is answered when it has ended, or 5000 ms later
// after SIGKILL.
//
// A subclass gives its resources back to the factory in unbind(), guarded by
// TakeBinding() so that it happens once, and calls unbind() again from its destructor:
// a slot deleted without its own release (the slot table drops waiting slots when the
// controller goes) still leaves the factory's lists.

#include <ostream>
#include <string>
#include <vector>

#include "foundation/child_wait.h"
#include "foundation/timer.h"
#include "schemas/base.h"
#include "server/slot.h"
#include "slots/modem/auth_records.h"

class ModemFactory;

class ModemSlot : public Slot {
public:
  static constexpr unsigned kTerminateMs = 5000;

  explicit ModemSlot(TERM::ModemParams const& params);
  ~ModemSlot() override;

  bool IBeforeDestroy() override;
  bool IActivate(TERM::TermActivateParams const& params) override;
  std::string GetName() const override { return "generic-modem"; }
  // The modem number: the session number of the authentication link.
  virtual int modem_id() const = 0;
  // Gives the slot's resources back to the factory.
  virtual void unbind() = 0;

  ModemFactory* GetSlotFactory() const;
  bool pppd_executing() const { return m_pid != -1; }
  bool EqAuthId(int id) const { return modem_id() == id; }
  // The slot label and ": ".
  void PutHeader(std::ostream& os) const;

  // One record from the agent, matched to this slot; it holds at least its length word's
  // bytes (at least 12).
  void OnAuth(attr const* record);

  // The PPP daemon's argument list: execfile or "/usr/local/sbin/pppd", then execargs
  // (at most 62) or "file", the options file, the device and, with a calling number,
  // "remotenumber" and that number.
  static std::vector<std::string> PppdArguments(TERM::ModemParams const& params, char const* device,
                                                char const* options);

protected:
  // Starts the PPP daemon on the device with the options file; nothing while a child runs.
  void pppd_exec(char const* device, char const* options);
  // SIGKILL to a running child, which is then no longer the slot's.
  void pppd_kill();
  void on_terminate(int status);
  void on_terminate_timeout(Timer*);
  // After the child ended: the slot goes if it was being released, else the end is
  // reported as an abort.
  void ended(int status);
  void OnAuthRequest(voauth const& record);
  void OnAcctInformation(voacct const& record);
  // Logs what failed with the error text and reports the error number as an abort.
  void Fail(char const* what);
  // True the first time only: for unbind().
  bool TakeBinding();
  static std::string Text(ASN1::AbstractString const& value) { return value; }
  // One counter of an accounting report as its two halves, each signed 32-bit with the
  // same bits.
  static void set_halves(BASE::INTEGER64Bits& value, std::uint32_t high, std::uint32_t low);

  TERM::ModemParams m_params;
  int m_pid = -1;
  ChildWait m_child;
  Timer m_terminate;

private:
  bool m_bound = true;
};
