#include "slots/modem/modem_slot.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <iostream>
#include <unistd.h>

#include "foundation/child_exec.h"
#include "foundation/ext.h"
#include "foundation/fd.h"
#include "schemas/base.h"
#include "slots/modem/modem_factory.h"

namespace {

constexpr char kPppd[] = "/usr/local/sbin/pppd";
constexpr std::size_t kMaxExecArgs = 62;
constexpr std::size_t kAuthRequestSize = sizeof(voauth);
constexpr std::size_t kAccountingSize = sizeof(voacct);

// A text field up to its first zero byte, never past its end.
std::string field_text(char const* field, std::size_t size) { return std::string(field, ::strnlen(field, size)); }

}  // namespace

void ModemSlot::set_halves(BASE::INTEGER64Bits& value, std::uint32_t high, std::uint32_t low) {
  value.set_low(static_cast<std::int32_t>(low));
  value.set_high(static_cast<std::int32_t>(high));
}

ModemSlot::ModemSlot(TERM::ModemParams const& params) : m_params(params) { m_child.Bind(this, &ModemSlot::on_terminate); }

// Each family kills a child still running from its own destructor, so that the line
// names it.
ModemSlot::~ModemSlot() = default;

ModemFactory* ModemSlot::GetSlotFactory() const { return static_cast<ModemFactory*>(Slot::GetSlotFactory()); }

void ModemSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

bool ModemSlot::TakeBinding() { return std::exchange(m_bound, false); }

void ModemSlot::Fail(char const* what) {
  Errno const error;
  std::cerr << ext::header(this) << what << error << std::endl;
  OnAbort(error.value());
}

std::vector<std::string> ModemSlot::PppdArguments(TERM::ModemParams const& params, char const* device,
                                                  char const* options) {
  std::vector<std::string> args = {params.execfile_isPresent() ? Text(params.get_execfile()) : kPppd};
  if (params.execargs_isPresent()) {
    for (auto const& arg : params.get_execargs()) {
      if (args.size() > kMaxExecArgs) break;
      args.push_back(Text(arg));
    }
    return args;
  }
  args.insert(args.end(), {"file", options, device});
  if (!params.get_cid().empty()) args.insert(args.end(), {"remotenumber", Text(params.get_cid())});
  return args;
}

void ModemSlot::pppd_exec(char const* device, char const* options) {
  if (m_pid != -1) return;
  pid_t const pid = ChildExec::Start(PppdArguments(m_params, device, options));
  if (pid < 0) {
    Fail("vfork fail: ");
    return;
  }
  m_pid = pid;
  m_child.Attach(pid);
  std::string const cid = Text(m_params.get_cid());
  std::clog << ext::header(this) << "pppd executed" << " cid=" << ext::quoted(cid) << " pid=" << std::dec << pid
            << std::endl;
}

void ModemSlot::pppd_kill() {
  if (m_pid == -1) return;
  std::cerr << ext::header(this) << "pppd isn't terminated, killing ..." << std::endl;
  ::kill(m_pid, SIGKILL);
  ::sleep(0);
  // Its exit is not waited for: the pid may be reaped, and must not be signalled again.
  m_pid = -1;
}

void ModemSlot::on_terminate(int status) {
  std::clog << ext::header(this) << "pppd terminated with code " << std::dec << status << std::endl;
  m_pid = -1;
  ended(status);
}

void ModemSlot::ended(int status) {
  if (is_releasing()) {
    unbind();
    on_release();  // deletes this slot
    return;
  }
  OnAbort(status);
}

bool ModemSlot::IBeforeDestroy() {
  if (m_pid == -1) {
    unbind();
    return true;
  }
  std::cerr << ext::header(this) << "sent HUP to pppd." << std::endl;
  ::kill(m_pid, SIGHUP);
  m_terminate.set(kTerminateMs, &ModemSlot::on_terminate_timeout, this);
  return false;
}

void ModemSlot::on_terminate_timeout(Timer*) {
  std::cerr << ext::header(this) << "pppd terminate timeout!" << std::endl;
  pppd_kill();
  if (!is_releasing()) return;
  unbind();
  on_release();  // deletes this slot
}

void ModemSlot::OnAuth(attr const* record) {
  attr header;
  std::memcpy(&header, record, sizeof header);
  switch (header.type) {
    case kAuthRequest:
      if (header.length == kAuthRequestSize) {
        voauth request;
        std::memcpy(&request, record, sizeof request);
        OnAuthRequest(request);
      } else {
        std::cerr << ext::header(this) << "auth request, invalid size: " << std::dec << header.length << std::endl;
      }
      return;
    case kAuthAccept: std::cerr << ext::header(this) << "auth accept, ignored." << std::endl; return;
    case kAuthIp: std::cerr << ext::header(this) << "auth ip, ignored." << std::endl; return;
    case kAuthAccounting:
      if (header.length == kAccountingSize) {
        voacct accounting;
        std::memcpy(&accounting, record, sizeof accounting);
        OnAcctInformation(accounting);
      } else {
        std::cerr << ext::header(this) << "auth accounting, invalid size: " << std::dec << header.length << std::endl;
      }
      return;
    default:
      std::cerr << ext::header(this) << "unknown request from portslave: 0x" << std::hex << header.type << std::dec
                << std::endl;
  }
}

void ModemSlot::OnAuthRequest(voauth const& record) {
  TERM::MdmRequestUserAuth auth;
  auth.set_username(field_text(record.username, sizeof record.username));
  auth.set_password(field_text(record.password, sizeof record.password));
  OnModem(TERM::ModemProceeding(TERM::ModemProceeding::auth::id, auth));
}

void ModemSlot::OnAcctInformation(voacct const& record) {
  // Built in place in the signal: an agent may send records as fast as its link carries.
  LGCP::Signal signal;
  TERM::MdmAccounting& acct = signal.select_modemProceeding().select_acct();
  set_halves(acct.set_octetsOut(), record.octets_out[0], record.octets_out[1]);
  set_halves(acct.set_octetsIn(), record.octets_in[0], record.octets_in[1]);
  set_halves(acct.set_packetsOut(), record.packets_out[0], record.packets_out[1]);
  set_halves(acct.set_packetsIn(), record.packets_in[0], record.packets_in[1]);
  set_halves(acct.set_time(), 0, record.time);
  SendSignal(signal);
}

bool ModemSlot::IActivate(TERM::TermActivateParams const& params) {
  if (!params.modem_isSelected()) {
    std::cerr << ext::header(this) << "modem's activation requests parameter." << std::endl;
    return false;
  }
  TERM::ModemUserParameters const& user = params.get_modem();
  auto const session = static_cast<std::uint32_t>(modem_id());
  auth_accept accept{{sizeof(auth_accept), kAuthAccept, session}, 1};
  // inet_addr gives all ones for text that does not parse.
  auth_ip ip{{sizeof(auth_ip), kAuthIp, session},
             0,
             ::inet_addr(user.get_remoteAddr().c_str()),
             ::inet_addr(user.get_netmask().c_str()),
             ::inet_addr(user.get_gateway().c_str()),
             ::inet_addr(user.get_dns().c_str()),
             static_cast<std::uint32_t>(user.get_mtu().getValue())};
  // The agent's answer is the factory's business: activation succeeds either way.
  if (ModemFactory* const factory = GetSlotFactory()) {
    factory->SendAuth(&accept.header);
    factory->SendAuth(&ip.header);
  }
  return true;
}
