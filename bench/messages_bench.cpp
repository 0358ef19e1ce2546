// Aligned PER encode and decode of three messages as the gateway sends and receives them,
// beside Erlang's compiled codec (the generated translation) timing the same values in
// the same run: an RTP create command from the controller, a trunk-status signal to it,
// and a set command of four SNMP set commands to an SNMP agent. Each decode builds a
// fresh value and destroys it, as the server does per frame.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/allocation_count.h"
#include "bench/erlang_timing.h"
#include "schemas/acp.h"
#include "schemas/lgcp.h"
#include "schemas/mon.h"
#include "schemas/term.h"
#include "tests/schemas/oracle/wire_oracle.h"

namespace {

TERM::HostAddress host(std::string const& address, unsigned port) {
  TERM::HostAddress h;
  h.set_iaddr(address);
  h.set_port(port);
  return h;
}

LGCP::Message const& rtp_create() {
  static LGCP::Message const built = [] {
    LGCP::Message m;
    m.set_seq(1207);
    m.set_slot(42u);
    LGCP::CreateRtpParams& rtp = m.set_pdu().select_command().select_create().select_rtp();
    TERM::RtpParams& codec = rtp.set_codecRTP();
    codec.set_payload(TERM::Payload::ptG711_Alaw);
    codec.set_dhost(host("192.168.17.40", 40004));
    codec.set_shost(host("192.168.17.2", 6016));
    codec.set_pfactor(2);
    codec.set_vad(true);
    TERM::RtpEcho echo;
    echo.set_suppressor(false);
    echo.set_canceller(true);
    codec.set_echo(echo);
    codec.set_ssrc(0x9E3779B9u);
    codec.set_ttl(64u);
    codec.set_qos_dscp(TERM::IpQoSDSCP::ef);
    rtp.set_txPayload(TERM::Payload::ptG711_Alaw);
    rtp.set_rxPayload(TERM::Payload::ptG711_Alaw);
    return m;
  }();
  return built;
}

// As E1 control reports a trunk: a board-level signal without seq and slot.
LGCP::Message const& trunk_status() {
  static LGCP::Message const built = [] {
    LGCP::Message m;
    ACP::TrunkStatus& status = m.set_pdu().select_signal().select_trunkStatus();
    status.set_trunk(2);
    status.set_state(ACP::TrunkState::lossCarrier);
    status.set_slips(3);
    status.set_lossBF(1);
    status.set_lossCarrier(17);
    status.set_lossAIS(0);
    status.set_lossRAI(0);
    status.set_clockMaster(false);
    status.set_type(ACP::TrunkType::e1);
    return m;
  }();
  return built;
}

// As the monitoring service pushes values: each id the `name` alternative.
MON::Message const& snmp_set() {
  static MON::Message const built = [] {
    MON::Message m;
    auto& commands = m.set_pdu().select_command().select_snmp_set().set_commands();
    char const* const values[] = {"normal", "lossCarrier", "12", "master"};
    char const* const names[] = {"state", "state", "slips", "clock"};
    for (unsigned i = 0; i < 4; ++i) {
      MON::SnmpSetCommand command;
      command.set_uniq(static_cast<int>(4711 + i));
      MON::IniName& name = command.set_id().select_name();
      name.set_section("e1");
      name.set_name(names[i]);
      name.set_index(static_cast<int>(i));
      command.set_value(values[i]);
      commands.push_back(command);
    }
    return m;
  }();
  return built;
}

oracle::ErlangCodec& codec() {
  static std::unique_ptr<oracle::ErlangCodec> const started = wire_oracle::start_codec();
  return *started;
}

ErlangValue const& rtp_create_erlang() {
  static ErlangValue const value{&codec(), "LGCP-Message", wire_oracle::term(rtp_create())};
  return value;
}
ErlangValue const& trunk_status_erlang() {
  static ErlangValue const value{&codec(), "LGCP-Message", wire_oracle::term(trunk_status())};
  return value;
}
ErlangValue const& snmp_set_erlang() {
  static ErlangValue const value{&codec(), "MON-Message", wire_oracle::term(snmp_set())};
  return value;
}

void BM_RtpCreateEncode(benchmark::State& state) { encode_bench(state, rtp_create(), rtp_create_erlang()); }
void BM_RtpCreateDecode(benchmark::State& state) {
  decode_bench(state, rtp_create(), rtp_create_erlang(), [] { return LGCP::Message(); });
}
void BM_TrunkStatusEncode(benchmark::State& state) { encode_bench(state, trunk_status(), trunk_status_erlang()); }
void BM_TrunkStatusDecode(benchmark::State& state) {
  decode_bench(state, trunk_status(), trunk_status_erlang(), [] { return LGCP::Message(); });
}
void BM_MonSnmpSetEncode(benchmark::State& state) { encode_bench(state, snmp_set(), snmp_set_erlang()); }
void BM_MonSnmpSetDecode(benchmark::State& state) {
  decode_bench(state, snmp_set(), snmp_set_erlang(), [] { return MON::Message(); });
}
BENCHMARK(BM_RtpCreateEncode);
BENCHMARK(BM_RtpCreateDecode);
BENCHMARK(BM_TrunkStatusEncode);
BENCHMARK(BM_TrunkStatusDecode);
BENCHMARK(BM_MonSnmpSetEncode);
BENCHMARK(BM_MonSnmpSetDecode);

// Erlang's figures as entries of their own.
void BM_ErlangRtpCreateEncode(benchmark::State& s) { erlang_entry(s, rtp_create_erlang(), &ErlangFigures::encode_ns); }
void BM_ErlangRtpCreateDecode(benchmark::State& s) { erlang_entry(s, rtp_create_erlang(), &ErlangFigures::decode_ns); }
void BM_ErlangTrunkStatusEncode(benchmark::State& s) { erlang_entry(s, trunk_status_erlang(), &ErlangFigures::encode_ns); }
void BM_ErlangTrunkStatusDecode(benchmark::State& s) { erlang_entry(s, trunk_status_erlang(), &ErlangFigures::decode_ns); }
void BM_ErlangMonSnmpSetEncode(benchmark::State& s) { erlang_entry(s, snmp_set_erlang(), &ErlangFigures::encode_ns); }
void BM_ErlangMonSnmpSetDecode(benchmark::State& s) { erlang_entry(s, snmp_set_erlang(), &ErlangFigures::decode_ns); }
BENCHMARK(BM_ErlangRtpCreateEncode)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ErlangRtpCreateDecode)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ErlangTrunkStatusEncode)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ErlangTrunkStatusDecode)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ErlangMonSnmpSetEncode)->UseManualTime()->Iterations(1);
BENCHMARK(BM_ErlangMonSnmpSetDecode)->UseManualTime()->Iterations(1);

}  // namespace
