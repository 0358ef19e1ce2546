#include "tests/server/channel_commands.h"

#include <cstdio>

#include "schemas/term.h"
#include "tests/server/lgcp_messages.h"

namespace lgcp_test {

namespace {

std::vector<char> octets(std::string const& bytes) { return {bytes.begin(), bytes.end()}; }

LGCP::IoctlResponse const* ioctl_signal(LGCP::Message const& m) {
  if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().ioctl_isSelected()) return nullptr;
  return &m.get_pdu().get_signal().get_ioctl();
}

}  // namespace

LGCP::Message create_hdlc(int seq, int slot, int trunk, int log, int address) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::HdlcParams& p = c.select_create().select_hdlcParams();
    p.set_trunk(trunk);
    p.set_log(log);
    p.set_address(address);
  });
}

LGCP::Message create_mcc(int seq, int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::MccParams& p = c.select_create().select_mcc();
    p.set_type(type);
    p.set_mode(mode);
  });
}

LGCP::Message create_t38soft(int seq, int slot, T38Params const& params) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::T38Soft& p = c.select_create().select_t38soft();
    p.set_dhost().set_iaddr(params.remote);
    p.set_dhost().set_port(params.remote_port);
    p.set_shost().set_iaddr("0.0.0.0");
    p.set_shost().set_port(params.local_port);
    p.set_rx_packet_size(params.packet_size);
    p.set_rx_threshold(params.rx_threshold);
    p.set_tx_threshold(params.tx_threshold);
    for (std::string const& arg : params.args) p.set_args().push_back(ASN1::IA5String(arg));
  });
}

namespace {

void set_host(TERM::HostAddress& address, std::string const& host, unsigned port) {
  address.set_iaddr(host);
  address.set_port(port);
}

}  // namespace

LGCP::Message create_recorder(int seq, int slot, std::string const& host, unsigned port) {
  return command(seq, slot,
                 [&](LGCP::Command& c) { set_host(c.select_create().select_voice().select_record(), host, port); });
}

LGCP::Message create_network_player(int seq, int slot, std::string const& host, unsigned port, int id) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::PlayerParams_network& p = c.select_create().select_voice().select_player().select_network();
    set_host(p.set_host(), host, port);
    p.set_id(id);
  });
}

LGCP::Message create_file_player(int seq, int slot, std::vector<std::string> const& names, int repeat) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::PlayerParams_file& p = c.select_create().select_voice().select_player().select_file();
    for (std::string const& name : names) p.set_name().push_back(ASN1::IA5String(name));
    p.set_repeat(repeat);
  });
}

LGCP::Message hdlc_packages(int seq, int slot, std::vector<std::string> const& bodies) {
  return command(seq, slot, [&](LGCP::Command& c) {
    auto& packages = c.select_ioctl().select_hdlcPackages();
    for (std::string const& body : bodies) {
      LGCP::HdlcPackage package;
      package.set_body(octets(body));
      packages.push_back(package);
    }
  });
}

LGCP::Message user_data(int seq, int slot, std::string const& bytes) {
  return command(seq, slot, [&](LGCP::Command& c) { c.select_userData(octets(bytes)); });
}

LGCP::Message activate(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_activate().select_empty(); });
}

LGCP::Message deactivate(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_deactivate(); });
}

std::optional<std::vector<std::string>> packages_of(LGCP::Message const& m) {
  LGCP::IoctlResponse const* response = ioctl_signal(m);
  if (!response || !response->hdlcPackages_isSelected()) return std::nullopt;
  std::vector<std::string> bodies;
  for (LGCP::HdlcPackage const& package : response->get_hdlcPackages()) {
    auto const& body = package.get_body();
    bodies.emplace_back(body.begin(), body.end());
  }
  return bodies;
}

std::optional<std::array<int, 5>> link_info_of(LGCP::Message const& m) {
  LGCP::IoctlResponse const* response = ioctl_signal(m);
  if (!response || !response->hdlcLinkInfo_isSelected()) return std::nullopt;
  LGCP::HdlcLinkInfo const& i = response->get_hdlcLinkInfo();
  return std::array<int, 5>{i.get_txSU().getValue(), i.get_txDiscard().getValue(), i.get_txError().getValue(),
                            i.get_txOverflow().getValue(), i.get_rxSU().getValue()};
}

std::optional<std::string> user_data_of(LGCP::Message const& m) {
  if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().userData_isSelected()) return std::nullopt;
  auto const& bytes = m.get_pdu().get_signal().get_userData();
  return std::string(bytes.begin(), bytes.end());
}

std::optional<int> stop_recording_of(LGCP::Message const& m) {
  LGCP::IoctlResponse const* response = ioctl_signal(m);
  if (!response || !response->stopRecording_isSelected()) return std::nullopt;
  return response->get_stopRecording().asInt();
}

bool is_start_playing(LGCP::Message const& m) {
  LGCP::IoctlResponse const* response = ioctl_signal(m);
  return response && response->startPlaying_isSelected();
}

std::optional<int> abort_of(LGCP::Message const& m) {
  if (!m.get_pdu().signal_isSelected() || !m.get_pdu().get_signal().abort_isSelected()) return std::nullopt;
  return m.get_pdu().get_signal().get_abort().getValue();
}

int slot_of(LGCP::Message const& m) { return m.slot_isPresent() ? static_cast<int>(m.get_slot().getValue()) : -1; }

std::string hex_text(std::string const& bytes) {
  std::string text;
  for (char c : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof digits, text.empty() ? "%02X" : " %02X", static_cast<unsigned char>(c));
    text += digits;
  }
  return text;
}

}  // namespace lgcp_test
