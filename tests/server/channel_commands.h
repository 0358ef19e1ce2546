#pragma once
// LGCP commands and signal readers of the slots on the board's HDLC controller (HDLC,
// MCC data, software T.38 slots, voice players and recorders), shared by the tests inside the process, the daemon
// tests and the load driver. Byte strings are std::string.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "schemas/lgcp.h"

namespace lgcp_test {

LGCP::Message create_hdlc(int seq, int slot, int trunk, int log, int address);
LGCP::Message create_mcc(int seq, int slot, LGCP::MccType::NamedNumber type, LGCP::MccMode::NamedNumber mode);
struct T38Params {
  std::string remote = "10.0.0.5";
  unsigned remote_port = 4000;
  unsigned local_port = 4002;
  int packet_size = 160;
  int rx_threshold = 2;
  int tx_threshold = 3;
  std::vector<std::string> args;
};
LGCP::Message create_t38soft(int seq, int slot, T38Params const& params);
// Voice slots: a recorder streaming to host:port, a network player of stream `id` from
// host:port, a file player of phrase files.
LGCP::Message create_recorder(int seq, int slot, std::string const& host, unsigned port);
LGCP::Message create_network_player(int seq, int slot, std::string const& host, unsigned port, int id);
LGCP::Message create_file_player(int seq, int slot, std::vector<std::string> const& names, int repeat);
LGCP::Message hdlc_packages(int seq, int slot, std::vector<std::string> const& bodies);
LGCP::Message user_data(int seq, int slot, std::string const& bytes);
LGCP::Message activate(int seq, int slot);
LGCP::Message deactivate(int seq, int slot);

// The bodies of an `hdlcPackages` ioctl signal; nothing for any other message.
std::optional<std::vector<std::string>> packages_of(LGCP::Message const& m);
// txSU, txDiscard, txError, txOverflow, rxSU of an `hdlcLinkInfo` ioctl signal.
std::optional<std::array<int, 5>> link_info_of(LGCP::Message const& m);
// The bytes of a `userData` signal.
std::optional<std::string> user_data_of(LGCP::Message const& m);
// The cause of a `stopRecording` ioctl signal.
std::optional<int> stop_recording_of(LGCP::Message const& m);
// Whether the message is a `startPlaying` ioctl signal.
bool is_start_playing(LGCP::Message const& m);
// The cause of an `abort` signal.
std::optional<int> abort_of(LGCP::Message const& m);
// The slot a message names, -1 when none.
int slot_of(LGCP::Message const& m);
// Bytes as upper-case hex pairs between blanks: "12 34 00".
std::string hex_text(std::string const& bytes);

}  // namespace lgcp_test
