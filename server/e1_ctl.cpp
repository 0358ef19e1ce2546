#include "server/e1_ctl.h"

#include <iostream>
#include <poll.h>

#include "foundation/ext.h"
#include "server/trunk_status.h"

namespace {
constexpr unsigned kMaskBits = 32;
constexpr int kSignallingSlot = 16;
constexpr std::uint32_t kOn = 0;
constexpr std::uint32_t kOff = 1;

Board::CasChannel channel_record(unsigned trunk, int timeslot, unsigned tx) {
  return {trunk, static_cast<std::uint32_t>(timeslot), 0, static_cast<std::uint8_t>(tx & 0x0F), {0, 0}};
}
}  // namespace

E1Ctl& E1Ctl::instance() {
  static E1Ctl e1;
  return e1;
}

void E1Ctl::OnConnect() {
  ReportStatus();
  m_status.set(kStatusPeriodMs, &E1Ctl::OnStatusTimer, this);
  m_transmit_clock = 0;
  SendTransmitClock();
  CasOpened();
}

void E1Ctl::OnStatusTimer() {
  ReportStatus();
  CasOpened();
  m_status.set(kStatusPeriodMs, &E1Ctl::OnStatusTimer, this);
}

bool E1Ctl::OnCommand(LGCP::Command const& command) {
  if (command.ioctl_isSelected()) {
    LGCP::IoctlParams const& params = command.get_ioctl();
    if (params.cas_isSelected() && CasOpened()) Cas(params.get_cas());
  } else if (command.trunkCfg_isSelected()) {
    TrunkConfig(command.get_trunkCfg());
  } else {
    return false;
  }
  // Whatever happened reached the controller as signals and log lines.
  Success();
  return true;
}

void E1Ctl::ReportStatus() {
  if (!m_maintenance.IsOpened()) return;
  for (unsigned trunk = 0; trunk < kTrunks; ++trunk) {
    Board::E1TrunkStatus record;
    if (!m_maintenance.Status(trunk, record)) {
      Errno const error;
      std::cerr << ext::header(this) << "synchronization status read fail, trunk = " << trunk << " cause = " << error
                << std::endl;
      continue;
    }
    TrunkReport report;
    report.trunk = static_cast<int>(trunk);
    report.state = record.state;
    report.slips = static_cast<int>(record.slips);
    report.lossBF = static_cast<int>(record.loss_bf);
    report.lossCarrier = static_cast<int>(record.loss_carrier);
    report.lossAIS = static_cast<int>(record.ais);
    report.lossRAI = static_cast<int>(record.rai);
    SendSignal(TrunkStatusSignal(report));
  }
}

void E1Ctl::TrunkConfig(LGCP::TrunkCfg const& config) {
  int const trunk = config.get_trunk().getValue();
  if (trunk < 0) return;
  // Trunks past the mask's width leave it as it is; it is sent all the same.
  if (static_cast<unsigned>(trunk) < kMaskBits) {
    std::uint32_t const bit = std::uint32_t{1} << trunk;
    if (config.get_mode() == LGCP::TrunkMode::slave)
      m_transmit_clock |= bit;
    else
      m_transmit_clock &= ~bit;
  }
  SendTransmitClock();
}

void E1Ctl::SendTransmitClock() {
  if (!m_maintenance.IsOpened()) return;
  if (!m_maintenance.SetTransmitClock(m_transmit_clock)) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to set TCLK [cause=" << error << "]" << std::endl;
    return;
  }
  std::clog << ext::header(this) << "TCLT = 0x" << std::hex << m_transmit_clock << std::dec << std::endl;
}

bool E1Ctl::CasOpened() {
  if (m_cas.Open()) {
    std::clog << ext::header(this) << "cas interface opened!" << std::endl;
    m_cas_event.Bind("E1/Cas", &E1Ctl::OnCasEvent, this);
    m_cas_event.Schedule(m_cas.fd(), POLLIN);
  }
  return m_cas.IsOpened();
}

void E1Ctl::OnCasEvent(int, short revents) {
  if (revents & POLLIN) {
    Board::CasChannel record;
    if (m_cas.ReadChange(record) == static_cast<long>(sizeof record))
      SendCas(static_cast<int>(record.trunk), static_cast<int>(record.timeslot), record.rx, record.tx);
  }
  m_cas_event.StopOnHangUp(revents, false, Event::Ending::close, ext::header(this),
                           "cas interface hung up: no more received bits");
}

void E1Ctl::Cas(LGCP::CasCommand const& command) {
  int const path = command.get_channel().get_path().getValue();
  int const timeslot = command.get_channel().get_timeslot().getValue();
  if (path < 0 || static_cast<unsigned>(path) >= kTrunks) return;
  unsigned const trunk = static_cast<unsigned>(path);
  LGCP::CasCommandSignal const& cmd = command.get_cmd();
  if (cmd.open_isSelected()) {
    CasOpen(trunk, timeslot, cmd.get_open().getValue());
    return;
  }
  if (!m_cas_open[trunk]) return;
  if (cmd.close_isSelected()) {
    CasClose(trunk, timeslot);
  } else if (cmd.set_isSelected()) {
    Board::CasChannel record = channel_record(trunk, timeslot, static_cast<unsigned>(cmd.get_set().getValue()));
    if (int const result = m_cas.SetBits(record); result < 0)
      SendCas(path, timeslot, result, 0);
    else
      ReportBits(trunk, timeslot);
  } else {
    ReportBits(trunk, timeslot);
  }
}

void E1Ctl::CasOpen(unsigned trunk, int timeslot, int bits) {
  int const t = static_cast<int>(trunk);
  if (m_cas_open[trunk]) {
    SendCas(t, 0, 0, 0);
  } else {
    int const result = m_cas.OpenTrunk(trunk);
    SendCas(t, 0, result, 0);
    if (result < 0) {
      std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - fail(" << result << ")"
                << std::endl;
      return;
    }
    std::clog << ext::header(this) << "open cas signalling on trunk(" << trunk << ") - ok" << std::endl;
    m_cas_open[trunk] = 1;
  }
  if (timeslot == 0 || timeslot == kSignallingSlot) return;
  Board::CasConfigure record{channel_record(trunk, timeslot, static_cast<unsigned>(bits)), kOn};
  if (int const result = m_cas.Configure(record); result < 0)
    SendCas(t, timeslot, result, 0);
  else
    ReportBits(trunk, timeslot);
}

void E1Ctl::CasClose(unsigned trunk, int timeslot) {
  int const t = static_cast<int>(trunk);
  if (timeslot == 0) {
    int result = m_cas.CloseTrunk(trunk);
    if (result == 0) result = 1;
    SendCas(t, 0, result, 0);
    if (result >= 0) m_cas_open[trunk] = 0;
    return;
  }
  if (timeslot == kSignallingSlot) return;
  Board::CasConfigure record{channel_record(trunk, timeslot, 0), kOff};
  if (int const result = m_cas.Configure(record); result < 0)
    SendCas(t, timeslot, result, 0);
  else
    SendCas(t, timeslot, -1, 1);
}

void E1Ctl::ReportBits(unsigned trunk, int timeslot) {
  Board::CasChannel record = channel_record(trunk, timeslot, 0);
  int const result = m_cas.GetBits(record);
  if (result < 0)
    SendCas(static_cast<int>(trunk), timeslot, result, 0);
  else
    SendCas(static_cast<int>(trunk), timeslot, record.rx, record.tx);
}

void E1Ctl::SendCas(int trunk, int timeslot, int rx, int tx) {
  LGCP::Signal signal;
  LGCP::CasSignalling& cas = signal.select_cas();
  cas.set_channel().set_path(trunk);
  cas.set_channel().set_timeslot(timeslot);
  cas.set_rx(rx);
  cas.set_tx(tx);
  SendSignal(signal);
}
