// The device paths, the codec names and the texts of the RTP driver's records.

#include "hardware/device_names.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>
#include <string>

namespace {

template <class T>
std::string text(T const& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

TEST(DeviceNames, EachGetterAlwaysReturnsItsPath) {
  EXPECT_STREQ(GetVoiceDevName(), "/dev/voice");
  EXPECT_STREQ(GetMixerDevName(), "/dev/mixer");
  EXPECT_STREQ(GetDTMFDevName(), "/dev/dtmf");
  EXPECT_STREQ(GetDSPDevName(), "/dev/dsp");
  EXPECT_STREQ(GetRtpDevName(), "/dev/rtp");
  EXPECT_STREQ(GetRtpExtDevName(), "/dev/rtp_ext");
  EXPECT_STREQ(GetModemDevName(), "/dev/mctl");
  EXPECT_STREQ(GetMaintenance(), "/dev/maintenance");
  EXPECT_STREQ(GetSpiTdmDevName(), "/dev/spi_tdm");
  EXPECT_EQ(GetDTMFDevName(), GetDTMFDevName());
}

TEST(DeviceNames, CodecNames) {
  EXPECT_STREQ(GetCodecAsStr(0), "unknown");
  EXPECT_STREQ(GetCodecAsStr(4), "tonec");
  EXPECT_STREQ(GetCodecAsStr(6), "g729-rtp");
  EXPECT_STREQ(GetCodecAsStr(8), "conf");
  EXPECT_STREQ(GetCodecAsStr(9), "invalid");
  EXPECT_STREQ(GetCodecAsStr(-1), "invalid");
}

TEST(DeviceNames, RtpErrPrintsTheErrnoOfItsMaking) {
  errno = ENODEV;
  RtpErr const error(-1);
  errno = 0;
  EXPECT_EQ(error.code(), -1);
  EXPECT_EQ(text(error), "No such device");
}

TEST(DeviceNames, RecordTexts) {
  Board::rtp_connection_params params{};
  params.packet_factor = 2;
  params.rx_pt = 8;
  params.tx_pt = 18;
  params.ssrc = 4000000000u;
  EXPECT_EQ(text(params), "  rtp_connection_params\n  {\n   packet_factor = 2\n   rx_pt = 8\n   tx_pt = 18\n"
                          "   ssrc = 4000000000\n  }\n");
  EXPECT_EQ(text(Board::rtp_attach_session_params{7, -1}),
            "  rtp_attach_session_params\n  {\n   fd_rtp = 7\n   pid_rtp = -1\n  }\n");
  EXPECT_EQ(text(Board::rtp_channel_info{2048, -1, 3, 0}), "rtp_channel_info { tdm=2048 dev_no=-1 chn=3 }");
}

}  // namespace
