#include "tests/server/lgcp_messages.h"

namespace lgcp_test {

LGCP::Message command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill) {
  LGCP::Message message;
  if (seq >= 0) message.set_seq(seq);
  if (slot >= 0) message.set_slot(static_cast<unsigned>(slot));
  fill(message.set_pdu().select_command());
  return message;
}

bool is_success(LGCP::Message const& m) {
  return m.get_pdu().response_isSelected() && m.get_pdu().get_response().success_isSelected();
}

int error_of(LGCP::Message const& m) {
  if (!m.get_pdu().response_isSelected() || !m.get_pdu().get_response().error_isSelected()) return -1;
  return m.get_pdu().get_response().get_error().asInt();
}

LGCP::CreateParams create_params(RtpCreate const& c) {
  LGCP::CreateParams params;
  LGCP::CreateRtpParams& rtp = params.select_rtp();
  TERM::RtpParams& codec = rtp.set_codecRTP();
  codec.set_payload(c.payload);
  TERM::HostAddress& dhost = codec.set_dhost();
  dhost.set_iaddr(c.dhost.iaddr);
  dhost.set_port(c.dhost.port);
  if (c.shost) {
    TERM::HostAddress shost;
    shost.set_iaddr(c.shost->iaddr);
    shost.set_port(c.shost->port);
    codec.set_shost(shost);
  }
  if (c.ssrc) codec.set_ssrc(*c.ssrc);
  if (c.ttl) codec.set_ttl(*c.ttl);
  if (c.qos) codec.set_qos_dscp(*c.qos);
  if (c.echo) {
    TERM::RtpEcho echo;
    echo.set_suppressor(c.echo->first);
    echo.set_canceller(c.echo->second);
    codec.set_echo(echo);
  }
  rtp.set_txPayload(c.tx);
  rtp.set_rxPayload(c.rx);
  return params;
}

}  // namespace lgcp_test
