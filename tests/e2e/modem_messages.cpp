#include "tests/e2e/modem_messages.h"

#include "asn1/coder_env.h"
#include "schemas/base.h"
#include "schemas/term.h"
#include "tests/schemas/oracle/wire_oracle.h"
#include "tests/support/own_process.h"

namespace e2e {

std::string modem_text(LGCP::Message const& m) {
  if (!m.get_pdu().signal_isSelected()) return is_success(m) ? "success" : "error " + std::to_string(error_of(m));
  LGCP::Signal const& s = m.get_pdu().get_signal();
  auto stream = [](char const* name, LGCP::Stream const& st) {
    return std::string(name) + (st.active_isSelected() ? " " + std::to_string(st.get_active().getValue()) : " inactive");
  };
  if (s.transmitter_isSelected()) return stream("transmitter", s.get_transmitter());
  if (s.receiver_isSelected()) return stream("receiver", s.get_receiver());
  if (s.abort_isSelected()) return "abort " + std::to_string(s.get_abort().getValue());
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().auth_isSelected()) {
    TERM::MdmRequestUserAuth const& a = s.get_modemProceeding().get_auth();
    return "auth " + std::string(a.get_username()) + "/" + std::string(a.get_password());
  }
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().acct_isSelected()) {
    TERM::MdmAccounting const& a = s.get_modemProceeding().get_acct();
    std::string text = "acct";
    for (BASE::INTEGER64Bits const* v :
         {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn(), &a.get_time()})
      text += " " + std::to_string(v->get_low().getValue()) + "," + std::to_string(v->get_high().getValue());
    return text;
  }
  return "signal " + std::to_string(s.currentSelection());
}

std::string joined(std::vector<std::string> const& lines) {
  std::string text;
  for (std::string const& line : lines) text += line + "\n";
  return text;
}

std::string ModemTalk::ask(LGCP::Message const& m, int wait_ms) {
  m_asked = static_cast<int>(m.get_seq().getValue());
  m_c->send(m);
  auto const r = m_c->response(m_asked, wait_ms);
  return r ? modem_text(*r) : "none";
}

std::string ModemTalk::before_answer(std::size_t n) {
  auto const& bodies = m_c->bodies_received();
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<std::string> texts;
  std::size_t answer = bodies.size();
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    LGCP::Message m;
    bool const decoded = ASN1::decode(bodies[i].data(), bodies[i].data() + bodies[i].size(), &env, m, true);
    texts.push_back(decoded ? modem_text(m) : "undecodable");
    if (decoded && m.seq_isPresent() && static_cast<int>(m.get_seq().getValue()) == m_asked) answer = i;
  }
  if (answer == bodies.size()) return "no answer";
  return joined(std::vector<std::string>(texts.begin() + static_cast<long>(answer + 1 > n ? answer + 1 - n : 0),
                                         texts.begin() + static_cast<long>(answer + 1)));
}

std::string ModemTalk::next_signal(int alternative, int slot, int wait_ms) {
  auto const s = m_c->signal(signal_of(alternative, slot), wait_ms);
  return s ? modem_text(*s) : "none";
}

std::string erlang_reads_every_body(std::vector<Controller const*> const& controllers) {
  std::unique_ptr<oracle::ErlangCodec> const erlang = wire_oracle::start_codec();
  if (!erlang->failure().empty()) return erlang->failure();
  test::Failures f;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  for (Controller const* c : controllers) {
    for (auto const* bodies : {&c->bodies_sent(), &c->bodies_received()}) {
      for (std::string const& body : *bodies) {
        std::string const hex = oracle::hex(std::vector<char>(body.begin(), body.end()));
        LGCP::Message ours;
        bool const decoded = ASN1::decode(body.data(), body.data() + body.size(), &env, ours, true);
        f.check(decoded, hex + " decodes here");
        // Appended step by step: g++ 12 sees a false overlap (-Wrestrict) in the one-line form.
        std::string request = "decode LGCP-Message " + hex;
        request += ' ';
        request += wire_oracle::term(ours);
        f.equal(erlang->ask(request), "ok same", hex + " as Erlang decodes it");
      }
    }
  }
  return f.result();
}

}  // namespace e2e
