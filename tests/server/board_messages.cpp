#include "tests/server/board_messages.h"

#include "schemas/acp.h"
#include "tests/server/lgcp_messages.h"

namespace board_test {

LGCP::Message trunk_cfg(int seq, int trunk, LGCP::TrunkMode::NamedNumber mode) {
  return lgcp_test::command(seq, -1, [&](LGCP::Command& c) {
    LGCP::TrunkCfg& config = c.select_trunkCfg();
    config.set_trunk(trunk);
    config.set_mode(mode);
  });
}

LGCP::Message clock_cfg(int seq, LGCP::ClkSel0::NamedNumber select, LGCP::BExtEn::NamedNumber external, int source) {
  return lgcp_test::command(seq, -1, [&](LGCP::Command& c) {
    LGCP::ClockCfg& config = c.select_clockCfg();
    config.set_clkSel0(select);
    config.set_bextEn(external);
    config.set_source(source);
  });
}

LGCP::Message cas(int seq, int slot, int trunk, int timeslot, Cas what, int value) {
  return lgcp_test::command(seq, slot, [&](LGCP::Command& c) {
    LGCP::CasCommand& command = c.select_ioctl().select_cas();
    command.set_channel().set_path(trunk);
    command.set_channel().set_timeslot(timeslot);
    LGCP::CasCommandSignal& cmd = command.set_cmd();
    switch (what) {
      case Cas::open: cmd.select_open(value); break;
      case Cas::close: cmd.select_close(); break;
      case Cas::set: cmd.select_set(value); break;
      case Cas::get: cmd.select_get(); break;
    }
  });
}

LGCP::Message test_bpc(int seq, unsigned bus, int seed, Bpc mode, unsigned start, unsigned length) {
  return lgcp_test::command(seq, -1, [&](LGCP::Command& c) {
    LGCP::BpcTestParams& params = c.select_testBpc();
    params.set_bus(bus);
    params.set_seed(seed);
    switch (mode) {
      case Bpc::read: params.set_mode().select_read(); break;
      case Bpc::write: params.set_mode().select_write(); break;
      case Bpc::disconnect: params.set_mode().select_disconnect(); break;
    }
    params.set_timeslot_start(start);
    params.set_timeslot_length(length);
  });
}

bool is_signal(LGCP::Message const& m, int alternative) {
  return m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().currentSelection() == alternative;
}

std::string cas_text(LGCP::Message const& m) {
  if (!is_signal(m, LGCP::Signal::cas::id)) return {};
  LGCP::CasSignalling const& cas = m.get_pdu().get_signal().get_cas();
  return "{" + std::to_string(cas.get_channel().get_path().getValue()) + ", " +
         std::to_string(cas.get_channel().get_timeslot().getValue()) + ", " + std::to_string(cas.get_rx().getValue()) +
         ", " + std::to_string(cas.get_tx().getValue()) + "}";
}

std::string trunk_text(LGCP::Message const& m) {
  if (!is_signal(m, LGCP::Signal::trunkStatus::id)) return {};
  ACP::TrunkStatus const& s = m.get_pdu().get_signal().get_trunkStatus();
  int const state = s.get_state().asInt();
  std::string const state_name =
      state >= 0 && state <= ACP::TrunkState::disabled ? ACP::TrunkState::names[state] : std::to_string(state);
  return std::string(s.get_type() == ACP::TrunkType::bri ? "bri " : "e1 ") + std::to_string(s.get_trunk().getValue()) +
         ' ' + state_name + " slips=" + std::to_string(s.get_slips().getValue()) +
         " lossBF=" + std::to_string(s.get_lossBF().getValue()) +
         " lossCarrier=" + std::to_string(s.get_lossCarrier().getValue()) +
         " lossAIS=" + std::to_string(s.get_lossAIS().getValue()) + " lossRAI=" + std::to_string(s.get_lossRAI().getValue());
}

}  // namespace board_test
