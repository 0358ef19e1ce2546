#include "server/control_server.h"

#include <iostream>
#include <iterator>

#include "asn1/coder_env.h"
#include "foundation/ext.h"

CtrlSrv::Server ctrlServer;

namespace CtrlSrv {

namespace {
constexpr unsigned kMaxSlot = 1023;
constexpr unsigned kAvgStatDelayMs = 5000;
}  // namespace

Server::~Server() { Deactivate(); }

void Server::Bind(Service* service) {
  m_services.push_back(service);
  service->m_server = this;
}

void Server::Activate(Control::Service* link) {
  Deactivate();
  m_link = link;
  m_link->service_name("server");
  m_link->Bind(this);
  m_link->Activate();
}

void Server::Deactivate() {
  if (!m_link) return;
  m_link->Deactivate();
  OnDisconnect();
  m_link->UnBind();
  delete m_link;
  m_link = nullptr;
}

void Server::OnConnect() {
  std::clog << ext::header(this) << "controller connect." << std::endl;
  for (Service* service : m_services) service->OnConnect();
  m_avg_stat.set(kAvgStatDelayMs, &Server::OnUpdateAvgStat, this);
}

void Server::OnDisconnect() {
  for (Service* service : m_services) service->OnDisconnect();
  m_avg_stat.reset();
}

void Server::OnHeartbeatTimeout() {
  if (m_link) m_link->Disconnect();
}

void Server::OnMessage(char const* data, int length) {
  LGCP::Message message;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  if (ASN1::decode(data, data + length, &env, message, true)) {
    Handle(message);
  } else {
    std::cerr << ext::header(this) << "receive fail: decode error!" << std::endl
              << " msg: " << ext::hex(data, static_cast<unsigned>(length)) << std::endl;
  }
  // Signals between commands carry no slot unless given one.
  m_slot = -1;
}

void Server::Handle(LGCP::Message const& message) {
  m_answer_state = Unanswered;
  m_seq_present = message.seq_isPresent();
  if (m_seq_present) m_seq = static_cast<unsigned>(message.get_seq().getValue());
  if (!message.get_pdu().command_isSelected()) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
    return;
  }
  m_slot = message.slot_isPresent() ? static_cast<int>(message.get_slot().getValue()) : -1;
  if (m_slot != -1 && static_cast<unsigned>(m_slot) > kMaxSlot) {
    m_slot = -1;  // the error carries no slot
    Error(LGCP::ErrorCause::invalidSlot);
    return;
  }
  LGCP::Command const& command = message.get_pdu().get_command();
  bool handled = false;
  for (Service* service : m_services) {
    if (service->OnCommand(command)) {
      handled = true;
      break;
    }
  }
  if (!handled) {
    Error(LGCP::ErrorCause::unexpectedMsgType);
  } else if (m_answer_state == Unanswered) {
    std::cerr << ext::header(this) << "software error: server do NOT send ack!!!" << std::endl
              << ext::header(this) << "please report this message to technical support." << std::endl;
    Error(LGCP::ErrorCause::internal);
  }
}

void Server::Success() {
  if (m_answer_state != Unanswered) return;
  LGCP::Response response;
  response.select_success();
  SendResponse(response);
  m_answer_state = Answered;
}

void Server::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (m_answer_state == ErrorSent) return;
  LGCP::Response response;
  response.select_error(cause);
  SendResponse(response);
  m_answer_state = ErrorSent;
}

void Server::SendResponse(LGCP::Response const& response) {
  LGCP::Message message;
  if (m_seq_present) message.set_seq(static_cast<int>(m_seq));
  if (m_slot != -1) message.set_slot(static_cast<unsigned>(m_slot));
  message.set_pdu().select_response(response);
  SendMsg(message);
}

unsigned Server::delayResponse() {
  m_answer_state = Answered;
  return m_seq;
}

void Server::delayedSuccess(unsigned slot, unsigned token) {
  LGCP::Message message;
  message.set_seq(static_cast<int>(token));
  message.set_slot(slot);
  message.set_pdu().select_response().select_success();
  SendMsg(message);
}

void Server::SendSignal(LGCP::Signal const& signal) {
  LGCP::Message message;
  if (m_slot != -1) message.set_slot(static_cast<unsigned>(m_slot));
  message.set_pdu().select_signal(signal);
  SendMsg(message);
}

void Server::SendSignal(unsigned slot, LGCP::Signal const& signal) {
  LGCP::Message message;
  message.set_slot(slot);
  message.set_pdu().select_signal(signal);
  SendMsg(message);
}

void Server::SendMsg(LGCP::Message const& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  bytes.reserve(200);
  if (!ASN1::encode(message, &env, std::back_inserter(bytes))) {
    std::cerr << ext::header(this) << "send fail: encode error!" << message << std::endl;
    return;
  }
  if (!m_link) {
    std::cerr << ext::header(this) << "send fail: Service not attached!" << std::endl;
    return;
  }
  m_link->Send(bytes.data(), static_cast<int>(bytes.size()));
}

bool Server::CheckServerConnection(bool& connected) const {
  if (!m_link) return false;
  connected = m_link->IsConnected();
  return true;
}

void Server::PutHeader(std::ostream& os) const {
  if (!m_link)
    os << "ctrl [null]: ";
  else if (m_link->IsConnected())
    os << "ctrl [" << m_link->GetAddr() << "]: ";
  else
    os << "ctrl [not connected]: ";
}

bool Service::bound() const {
  if (m_server) return true;
  std::cerr << "CtrlSrv::Service error! service not connected to server." << std::endl;
  return false;
}

void Service::Success() {
  if (bound()) m_server->Success();
}

void Service::Error(LGCP::ErrorCause::NamedNumber cause) {
  if (bound()) m_server->Error(cause);
}

void Service::show_others(LGCP::Signal const& signal) {
  for (Service* other : m_server->services())
    if (other != this) other->OnSignal(signal);
}

void Service::SendSignal(LGCP::Signal const& signal) {
  if (!bound()) return;
  show_others(signal);
  m_server->SendSignal(signal);
}

void Service::SendSignal(unsigned slot, LGCP::Signal const& signal) {
  if (!bound()) return;
  show_others(signal);
  m_server->SendSignal(slot, signal);
}

int Service::GetSlot() const { return bound() ? m_server->GetSlot() : -1; }

bool Service::IsSlotPresent() const { return bound() && m_server->IsSlotPresent(); }

unsigned Service::delayResponse() { return bound() ? m_server->delayResponse() : static_cast<unsigned>(-1); }

void Service::delayedSuccess(unsigned slot, unsigned token) {
  if (bound()) m_server->delayedSuccess(slot, token);
}

bool Service::CheckServerConnection(bool& connected) const {
  return m_server && m_server->CheckServerConnection(connected);
}

}  // namespace CtrlSrv
