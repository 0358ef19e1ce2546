#pragma once
// Where the board's media drivers live: every such device is opened by a path from one
// of these getters, so the paths stay in one place. Each returns the same fixed text on
// every call. Beside them, the texts the RTP driver's records are logged with.

#include <ostream>

#include "foundation/board_requests.h"

char const* GetVoiceDevName();
char const* GetMixerDevName();
char const* GetDTMFDevName();
char const* GetDSPDevName();
char const* GetRtpDevName();
char const* GetRtpExtDevName();
char const* GetModemDevName();
char const* GetMaintenance();
char const* GetSpiTdmDevName();

// "g711", "conf", ...; "invalid" for a code the driver does not define.
char const* GetCodecAsStr(int code);

// A failed RTP request: the code it returned, and errno as it was right then.
class RtpErr {
public:
  explicit RtpErr(int code);
  int code() const { return m_code; }
  // The captured errno's text.
  std::ostream& Put(std::ostream& os) const;

private:
  int m_code;
  int m_errno;
};

std::ostream& operator<<(std::ostream& os, RtpErr const& error);

// Block form: the name, "{", one "label = value" line per field, "}", each line indented.
std::ostream& operator<<(std::ostream& os, Board::rtp_connection_params const& params);
std::ostream& operator<<(std::ostream& os, Board::rtp_attach_session_params const& params);
// One line: "rtp_channel_info { tdm=.. dev_no=.. chn=.. }".
std::ostream& operator<<(std::ostream& os, Board::rtp_channel_info const& info);
