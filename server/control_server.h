#pragma once
// The one point through which the gateway talks to its controller: each frame of the
// link becomes an LGCP::Message, each command is offered to the bound services in bind
// order, and every command is answered exactly once. Services answer, signal and learn
// the command's slot only through the operations here.

#include <ostream>
#include <vector>

#include "foundation/timer.h"
#include "protocol/control_service.h"
#include "schemas/lgcp.h"

namespace CtrlSrv {

class Server;

// Everything that handles commands.
class Service {
public:
  virtual ~Service() = default;
  virtual void OnConnect() = 0;
  virtual void OnDisconnect() = 0;
  // True when the command was handled: it is then answered, or its answer delayed.
  virtual bool OnCommand(LGCP::Command const& command) = 0;
  virtual void OnSignal(LGCP::Signal const&) {}

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  // Every other bound service sees the signal first, then the controller.
  void SendSignal(LGCP::Signal const& signal);
  void SendSignal(unsigned slot, LGCP::Signal const& signal);
  int GetSlot() const;
  bool IsSlotPresent() const;
  unsigned delayResponse();
  void delayedSuccess(unsigned slot, unsigned token);
  bool CheckServerConnection(bool& connected) const;
  Server* server() const { return m_server; }

private:
  friend class Server;
  bool bound() const;
  void show_others(LGCP::Signal const& signal);
  Server* m_server = nullptr;
};

class Server : public Control::Notify {
public:
  Server() = default;
  ~Server() override;
  Server(Server const&) = delete;
  Server& operator=(Server const&) = delete;

  void Bind(Service* service);
  // Takes over the link, names it "server" and starts it.
  void Activate(Control::Service* link);
  void Deactivate();

  void OnConnect() override;
  void OnDisconnect() override;
  void OnMessage(char const* data, int length) override;
  void OnHeartbeatTimeout();

  void Success();
  void Error(LGCP::ErrorCause::NamedNumber cause);
  unsigned delayResponse();
  void delayedSuccess(unsigned slot, unsigned token);
  void SendSignal(LGCP::Signal const& signal);
  void SendSignal(unsigned slot, LGCP::Signal const& signal);
  int GetSlot() const { return m_slot; }
  bool IsSlotPresent() const { return m_slot != -1; }
  bool CheckServerConnection(bool& connected) const;
  void PutHeader(std::ostream& os) const;

  std::vector<Service*> const& services() const { return m_services; }

private:
  enum AnswerState { Unanswered = 0, Answered = 1, ErrorSent = 2 };

  void Handle(LGCP::Message const& message);
  void SendResponse(LGCP::Response const& response);
  void SendMsg(LGCP::Message const& message);
  void OnUpdateAvgStat() {}

  std::vector<Service*> m_services;
  Control::Service* m_link = nullptr;
  bool m_seq_present = false;
  unsigned m_seq = 0;
  int m_slot = -1;
  int m_answer_state = Unanswered;
  Timer m_avg_stat;
};

}  // namespace CtrlSrv

extern CtrlSrv::Server ctrlServer;
