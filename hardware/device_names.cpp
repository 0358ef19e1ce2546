#include "hardware/device_names.h"

#include <cerrno>
#include <cstring>

#include "foundation/board_io.h"

char const* GetVoiceDevName() { return Board::kVoice; }
char const* GetMixerDevName() { return Board::kMixer; }
char const* GetDTMFDevName() { return Board::kDtmf; }
char const* GetDSPDevName() { return Board::kDsp; }
char const* GetRtpDevName() { return Board::kRtp; }
char const* GetRtpExtDevName() { return Board::kRtpExt; }
char const* GetModemDevName() { return Board::kModemControl; }
char const* GetMaintenance() { return Board::kMaintenance; }
char const* GetSpiTdmDevName() { return Board::kSpiTdm; }

char const* GetCodecAsStr(int code) {
  static char const* const names[] = {"unknown",  "g711",     "g723",     "g729", "tonec",
                                      "g711-rtp", "g729-rtp", "g723-rtp", "conf"};
  if (code < 0 || code >= static_cast<int>(sizeof names / sizeof names[0])) return "invalid";
  return names[code];
}

RtpErr::RtpErr(int code) : m_code(code), m_errno(errno) {}

std::ostream& RtpErr::Put(std::ostream& os) const { return os << std::strerror(m_errno); }

std::ostream& operator<<(std::ostream& os, RtpErr const& error) { return error.Put(os); }

std::ostream& operator<<(std::ostream& os, Board::rtp_connection_params const& params) {
  return os << std::dec << "  rtp_connection_params\n"
            << "  {\n"
            << "   packet_factor = " << params.packet_factor << '\n'
            << "   rx_pt = " << params.rx_pt << '\n'
            << "   tx_pt = " << params.tx_pt << '\n'
            << "   ssrc = " << params.ssrc << '\n'
            << "  }\n";
}

std::ostream& operator<<(std::ostream& os, Board::rtp_attach_session_params const& params) {
  return os << std::dec << "  rtp_attach_session_params\n"
            << "  {\n"
            << "   fd_rtp = " << params.fd_rtp << '\n'
            << "   pid_rtp = " << params.pid_rtp << '\n'
            << "  }\n";
}

std::ostream& operator<<(std::ostream& os, Board::rtp_channel_info const& info) {
  return os << std::dec << "rtp_channel_info" << " {" << " tdm=" << info.tdm << " dev_no=" << info.dev_no
            << " chn=" << info.chn << " }";
}
