#include "slots/modem/dsp_modem_slot.h"

#include <cstdio>
#include <fcntl.h>
#include <iostream>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/child_exec.h"
#include "foundation/ext.h"
#include "hardware/device_names.h"
#include "schemas/base.h"
#include "slots/modem/modem_factory.h"

namespace {

constexpr char kAnswerOptions[] = "/usr/local/etc/ppp/aoptions";
constexpr char kCallOptions[] = "/usr/local/etc/ppp/coptions";
constexpr char kFaxSender[] = "/usr/local/sbin/fax";
constexpr char kFaxReceiver[] = "/usr/local/bin/fax";
constexpr char kFaxFile[] = "/var/fax-%H-%M-%S.g3";
constexpr std::size_t kMaxFaxArgs = 60;

std::uint32_t ModeBit(int mode) {
  switch (mode) {
    case TERM::DigitalDataModeEnum::ddmV110: return 1;
    case TERM::DigitalDataModeEnum::ddm8BIT: return 2;
    case TERM::DigitalDataModeEnum::ddm7BIT: return 4;
    default: return 0;  // ddmV120 sets no bit
  }
}

}  // namespace

DspModemSlot::~DspModemSlot() {
  unbind();
  m_device.close();
  // Here, not in the base: the kill line names this family.
  pppd_kill();
}

void DspModemSlot::unbind() {
  if (!TakeBinding()) return;
  if (ModemFactory* const factory = GetSlotFactory()) factory->ReleaseModemSlot(this);
}

bool DspModemSlot::IOnOutputStream() {
  InitModem();
  return m_modem >= 0;
}

bool DspModemSlot::IOnInputStream() {
  InitModem();
  return m_modem >= 0;
}

void DspModemSlot::PutModem(std::ostream& os) const { os << " modem=" << std::dec << m_modem << " ts=" << m_timeslot; }

void DspModemSlot::InitModem() {
  if (m_modem >= 0) return;
  Board::Io& io = Board::io();
  Fd local(io.open(GetModemDevName(), O_RDONLY));
  if (!local) return Fail("fail to open device: ");
  int const fd = local.lowlevel_fd();
  int const modem = io.ioctl_value(fd, Board::MCTL_ALLOCATE, 0);
  if (modem < 0) return Fail("insufficient resources : ");
  int const timeslot = io.ioctl_value(fd, Board::MCTL_GET_TIMESLOT, 0);
  if (timeslot < 0) return Fail("get timeslot fail : ");
  if (m_params.ddm_isPresent()) {
    Board::ModemMode mode{modem, 0};
    for (auto const& element : m_params.get_ddm()) mode.mask |= ModeBit(element.asInt());
    if (io.ioctl(fd, Board::MCTL_SET_DDM, &mode) < 0) return Fail("set DDM failed : ");
  }
  Board::ModemCommand reset{modem, -1};
  if (io.ioctl(fd, Board::MCTL_RESET_DMP, &reset) < 0)
    std::cerr << ext::header(this) << "reset dmp parameters failed : " << Errno() << std::endl;
  if (m_params.dmp_isPresent()) {
    for (auto const& element : m_params.get_dmp()) {
      Board::ModemParameter parameter{modem, element.get_offset().getValue(), element.get_value().getValue()};
      if (io.ioctl(fd, Board::MCTL_SET_DMP, &parameter) < 0) {
        Errno const error;
        std::cerr << ext::header(this) << "set dmp parameter " << "index=" << std::dec
                  << static_cast<std::uint32_t>(parameter.offset) << " value=" << static_cast<std::uint32_t>(parameter.value)
                  << " failed : " << error << std::endl;
      }
    }
  }
  m_timeslot = timeslot;
  m_modem = modem;
  m_device = local;
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
  Start(local);
}

void DspModemSlot::Start(Fd& local) {
  Board::Io& io = Board::io();
  Board::ModemCommand start{m_modem, -1};
  bool const originate = m_params.originate_isPresent();
  if (!m_params.fax_isPresent()) {
    char terminal[32];
    std::snprintf(terminal, sizeof terminal, Board::kModemTerminal, m_modem);
    if (io.ioctl(local.lowlevel_fd(), originate ? Board::MCTL_ORIGINATE : Board::MCTL_ANSWER, &start) < 0)
      return Fail(originate ? "originate failed : " : "answer failed : ");
    pppd_exec(terminal, originate ? kCallOptions : kAnswerOptions);
  } else if (m_params.execargs_isPresent()) {
    RunFaxSender(local);
  } else if (originate) {
    if (io.ioctl(local.lowlevel_fd(), Board::MCTL_ORIGINATE_FAX, &start) < 0) Fail("originate failed : ");
  } else {
    RunFaxReceiver();
  }
}

std::vector<std::string> DspModemSlot::FaxSenderArguments(TERM::ModemParams const& params, int modem) {
  std::vector<std::string> args = {params.execfile_isPresent() ? Text(params.get_execfile()) : kFaxSender, "-m",
                                   std::to_string(modem)};
  for (auto const& arg : params.get_execargs()) {
    if (args.size() == 3 + kMaxFaxArgs) break;
    args.push_back(Text(arg));
  }
  return args;
}

std::vector<std::string> DspModemSlot::FaxReceiverArguments(int modem, std::time_t now) {
  std::tm local{};
  ::localtime_r(&now, &local);
  char file[64];
  std::strftime(file, sizeof file, kFaxFile, &local);
  return {kFaxReceiver, "-m", std::to_string(modem), "receive", file};
}

void DspModemSlot::RunFaxSender(Fd& local) {
  std::vector<std::string> const args = FaxSenderArguments(m_params, m_modem);
  // Both handles go before the fork: the fax program takes the modem.
  m_device.close();
  local.close();
  pid_t const pid =
      ChildExec::Start(args, {.pause = true, .seconds = 0, .say = "executing fax transfer\n", .say_failure = true});
  if (pid < 0) return Fail("vfork fail: ");
  m_pid = pid;
  m_child.Bind(this, &DspModemSlot::on_fax_terminate);
  m_child.Attach(pid);
  std::clog << ext::header(this) << "fax transfer executed";
  PutModem(std::clog);
  std::clog << std::endl;
}

void DspModemSlot::RunFaxReceiver() {
  // The file is named when the call is taken, before the child's pause.
  std::vector<std::string> const args = FaxReceiverArguments(m_modem, std::time(nullptr));
  // The set-up's own handle lasts until the child execs: then the modem is free.
  m_device.close();
  if (ChildExec::Start(args, {.pause = true, .seconds = 1, .say = "executing\n", .say_failure = true}) < 0)
    return Fail("vfork fail: ");
  std::clog << ext::header(this) << "fax receiver executed";
  PutModem(std::clog);
  std::clog << std::endl;
}

void DspModemSlot::on_fax_terminate(int status) {
  std::clog << ext::header(this) << "fax terminated with code " << std::dec << status << std::endl;
  m_pid = -1;
  if (status & 0xff) std::clog << ext::header(this) << "fax transfer failed" << std::endl;
  int const pages = (status >> 8) & 0xff;
  std::clog << ext::header(this) << "pages received: " << pages << std::endl;
  BASE::INTEGER64Bits none, received;
  set_halves(none, 0, 0);
  set_halves(received, 0, static_cast<std::uint32_t>(pages));
  TERM::MdmAccounting acct;
  acct.set_octetsOut(none);
  acct.set_octetsIn(received);
  acct.set_packetsOut(none);
  acct.set_packetsIn(none);
  acct.set_time(none);
  OnModem(TERM::ModemProceeding(TERM::ModemProceeding::acct::id, acct));
  ended(status);
}
