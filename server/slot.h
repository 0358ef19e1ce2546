#pragma once
// The base of every media endpoint the controller creates under a number 0..1023: its
// place in the connection graph (one source, any receivers), its stream flags, the
// factory that made it, and the signals through which it reports to the controller.

#include <ostream>
#include <string>
#include <vector>

#include "foundation/board_requests.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"
#include "schemas/acp.h"
#include "schemas/lemzgw.h"
#include "schemas/lgcp.h"
#include "schemas/term.h"

class SlotFactory;

class Slot {
public:
  Slot() = default;
  Slot(Slot const&) = delete;
  Slot& operator=(Slot const&) = delete;
  // Unlinks nothing: the slot table disconnects a slot before deleting it.
  virtual ~Slot() = default;

  virtual int GetTrunk() { return -1; }
  virtual int GetTrunkTimeSlot() { return -1; }
  virtual void OnTrunkStatus(unsigned /*trunk*/, ACP::TrunkState::NamedNumber /*state*/) {}
  // After the create command was answered.
  virtual void IAfterCreate() {}
  // True when the slot may go now; false when it calls on_release() once it is done.
  virtual bool IBeforeDestroy() { return true; }
  virtual bool IActivate(TERM::TermActivateParams const&) { return false; }
  virtual bool IDeactivate() { return false; }
  virtual bool IUserData(ASN1::OCTET_STRING const&) { return false; }
  virtual bool Ioctl(LGCP::IoctlParams const&) { return false; }
  virtual int GetConnectionPriority() { return 0; }
  virtual bool IHwConnectTransmitter(Slot& receiver);
  virtual bool IHwConnectReceiver(Slot& source);
  virtual bool IHwDisconnectTransmitter(Slot& receiver);
  virtual bool IHwDisconnectReceiver(Slot& source);
  virtual bool IOnOutputStream() { return false; }
  virtual bool IOnInputStream() { return false; }
  // The last receiver, or the source, went away.
  virtual void IOnOutputRelease() {}
  virtual void IOnInputRelease() {}
  virtual int IGetTransmitChannel() { return -1; }
  virtual int IGetReceiveChannel() { return -1; }
  virtual std::string GetName() const = 0;

  int GetId() const { return m_id; }
  void SetId(int id) { m_id = id; }
  SlotFactory* GetSlotFactory() const { return m_factory; }
  void SetSlotFactory(SlotFactory* factory) { m_factory = factory; }
  bool is_releasing() const { return m_releasing; }
  void SetReleasing() { m_releasing = true; }
  bool GetInputStream() const { return m_input_active; }
  bool GetOutputStream() const { return m_output_active; }
  int GetTransmitChannel() { return IGetTransmitChannel(); }
  int GetReceiveChannel() { return IGetReceiveChannel(); }
  Slot* GetSource() const { return m_source; }
  std::vector<Slot*> const& GetReceivers() const { return m_receivers; }

  // A destroy command that had to wait stored its answer's token here.
  void SetToken(unsigned token) {
    m_token = token;
    m_token_set = true;
  }
  bool HasToken() const { return m_token_set; }
  unsigned GetToken() const { return m_token; }

  // "07:trunk", "na:trunk" before the slot is numbered.
  void Put(std::ostream& os) const;

  void SendSignal(LGCP::Signal const& signal);
  void OnTonecEvent(LGCP::TonecEvent const& event);
  void OnNumber(std::string const& digits);
  void OnModem(TERM::ModemProceeding const& proceeding);
  void OnModem(TERM::ModemInformation const& information);
  void OnActivated();
  void OnDeactivated();
  void OnAbort(int cause);
  void OnUserData(std::vector<char> const& octets);
  void OnChangeInputStream(bool active);
  void OnChangeOutputStream(bool active);
  void OnIoctlResponse(LGCP::IoctlResponse const& response);
  void OnRtpRadioEvent(TERM::RtpRadioRequest const& request);
  void OnVADEvent(LGCP::VADEvent const& event);
  void OnProtoLemzEvent(LEMZGW::ProtoLemzPackets const& packets);
  void OnSDEvent(LGCP::SDEvent const& event);
  void OnRtpEvent(LGCP::RtpEvent const& event);

  // Driver events turned into signals, worded alike for every family (slot_events.cpp).
  void processTonecEvent(Hardware::TonecReceiver::Params const& params);
  void processToneGenEvent();
  void processToneFltEvent(Board::dsproc_tone_event const* event);
  void processVADEvent(Hardware::DSProcVADEvent const& event);
  void processFlagsEvent(Board::dsproc_flags_event const* event);
  void processBSSEvent(Board::dsproc_bss_event const* event);
  void processSDEvent(Hardware::DSProcSDEvent const& event);
  void processRtpEvent(Board::rtp_event const& event);

  // The only changes of the connection graph: receivers stay in connection order, each
  // listed once.
  void LogicalConnect(Slot& source);
  void LogicalDisconnect();

  // False when the slot finishes later through on_release().
  bool BeforeDestroy();
  // Called by a slot whose IBeforeDestroy() returned false, once it has finished.
  void on_release();

private:
  int m_id = -1;
  std::vector<Slot*> m_receivers;
  Slot* m_source = nullptr;
  SlotFactory* m_factory = nullptr;
  bool m_input_active = false;
  bool m_output_active = false;
  bool m_releasing = false;
  bool m_token_set = false;
  unsigned m_token = 0;
};

std::ostream& operator<<(std::ostream& os, Slot const& slot);
