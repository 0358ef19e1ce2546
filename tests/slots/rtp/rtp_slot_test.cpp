// RTP slots made and destroyed through the slot table: the session record the driver is
// given, the RTCP that goes out on real sockets, each way a create fails without leaving
// anything open, and the codec capacity in the resources report.

#include "slots/rtp/rtp_slot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdlib>

#include "boardsim/sim.h"
#include "slots/rtp/ssrc.h"
#include "tests/slots/rtp/rtp_slot_fixture.h"
#include "tests/support/switch_board.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;
using namespace rtp_test;

constexpr char kPrefix[] = "rtp[10,12,30,24]: ";

std::string last_begin() {
  auto const begins = requests("/dev/rtp", "ioctl begin");
  return begins.empty() ? "" : begins.back();
}

// The receive buffer of this process's UDP socket bound to any address on `port`; -1 when none is.
int receive_buffer_of(unsigned port) {
  for (int fd = 0; fd < 1024; ++fd) {
    int type = 0;
    socklen_t length = sizeof type;
    sockaddr_in address{};
    socklen_t address_length = sizeof address;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_DGRAM ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &address_length) != 0 ||
        address.sin_family != AF_INET || address.sin_addr.s_addr != htonl(INADDR_ANY) || ntohs(address.sin_port) != port)
      continue;
    int size = -1;
    length = sizeof size;
    ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, &length);
    return size;
  }
  return -1;
}

// The stream signals after a create: transmitter, then receiver, both on the channel.
void expect_streams(std::vector<LGCP::Message> const& got, int channel) {
  ASSERT_EQ(got.size(), 3u);
  EXPECT_TRUE(is_success(got[0]));
  ASSERT_TRUE(got[1].get_pdu().get_signal().transmitter_isSelected());
  EXPECT_EQ(got[1].get_pdu().get_signal().get_transmitter().get_active().getValue(), channel);
  ASSERT_TRUE(got[2].get_pdu().get_signal().receiver_isSelected());
  EXPECT_EQ(got[2].get_pdu().get_signal().get_receiver().get_active().getValue(), channel);
}

TEST_F(RtpSlotTest, TheSessionRecordFollowsTheCreate) {
  Peer peer;
  RtpCreate c;
  c.dhost = {"127.0.0.1", static_cast<unsigned>(peer.port() - 1)};
  c.shost = Host{"127.0.0.1", static_cast<unsigned>(free_udp_port() - 1)};
  c.ssrc = 16909060;
  c.ttl = 16;
  c.qos = TERM::IpQoSDSCP::ef;
  c.echo = {true, false};
  expect_streams(create(1, 7, c), 2048);
  int const rtcp_buffer = receive_buffer_of(c.shost->port + 1);
  EXPECT_GT(rtcp_buffer, 0) << "the RTCP socket";
  EXPECT_LT(rtcp_buffer, 16384) << "never read: the kernel's least buffer, not its default";
  EXPECT_EQ(last_begin(), "/dev/rtp ioctl begin dst=127.0.0.1:" + std::to_string(c.dhost.port) +
                              " src=127.0.0.1:" + std::to_string(c.shost->port) +
                              " rx_pt=8 tx_pt=8 pf=0 vad=0 crate=0 ssrc=16909060 ttl=16 tos=184");
  EXPECT_EQ(requests("/dev/rtp", "open"), std::vector<std::string>{"/dev/rtp open flags=O_RDONLY"});
  EXPECT_EQ(requests("/dev/rtp", "ioctl add-channel"),
            std::vector<std::string>{"/dev/rtp ioctl add-channel tdm=-1 dev_no=-1 chn=-1 got=2048"});
  // The canceller false is sent as off: the suppressor alone decides that it is sent.
  EXPECT_EQ(requests("/dev/dtmf", "ioctl CHANNEL_LMS_OFF"),
            std::vector<std::string>{"/dev/dtmf ioctl CHANNEL_LMS_OFF value=0x800"});
  EXPECT_NE(streams.log().find(std::string(kPrefix) + "do create rtp: "), std::string::npos);

  int from = 0;
  auto const sdes = peer.receive(2000, &from);
  ASSERT_TRUE(sdes);
  EXPECT_EQ(from, static_cast<int>(c.shost->port + 1)) << "sent from the RTP port + 1 of shost";
  EXPECT_EQ(sdes->substr(0, 2), "\x81\xca");
  EXPECT_EQ(sdes->substr(4, 4), "\x01\x02\x03\x04");
  EXPECT_NE(sdes->find("\x01\x11Korvent Tessaline\x03"), std::string::npos);

  stand_in("clear");
  auto const got = command(2, 7, [](LGCP::Command& cmd) { cmd.select_destroy(); });
  ASSERT_FALSE(got.empty());
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_EQ(peer.receive(), std::string("\x81\xcb\x00\x04\x01\x02\x03\x04\x0bsession end", 20));
  EXPECT_EQ(stand_in("state rtp"), (std::vector<std::string>{"sessions=0 channels=", "ok"}));
}

TEST_F(RtpSlotTest, PayloadsTakeTheirTypesAndOnlyG711OverridesThem) {
  RtpCreate c;
  c.payload = TERM::Payload::ptG729;
  c.rx = TERM::Payload::ptG711_Ulaw;
  c.tx = TERM::Payload::ptG729;
  ASSERT_TRUE(is_success(create(1, 7, c).at(0)));
  EXPECT_NE(last_begin().find(" rx_pt=0 tx_pt=18 "), std::string::npos) << last_begin();
  c = {};
  c.rx = TERM::Payload::ptG723;
  c.tx = TERM::Payload::ptG711_Ulaw;
  ASSERT_TRUE(is_success(create(2, 8, c).at(0)));
  EXPECT_NE(last_begin().find(" rx_pt=8 tx_pt=0 "), std::string::npos) << last_begin();
  c = {};
  c.payload = c.rx = c.tx = TERM::Payload::ptG728;
  ASSERT_TRUE(is_success(create(3, 9, c).at(0)));
  EXPECT_NE(last_begin().find(" rx_pt=15 tx_pt=15 "), std::string::npos) << last_begin();
  EXPECT_EQ(RtpFactory::translateCodec(TERM::Payload::ptG711mcc_Alaw), 136u);
  EXPECT_EQ(RtpFactory::translateCodec(TERM::Payload::ptG711mcc_Ulaw), 128u);
  EXPECT_EQ(RtpFactory::translateCodec(TERM::Payload::ptG723), 4u);

  // Refused payloads open no socket.
  std::size_t const before = descriptors();
  for (auto const payload : {TERM::Payload::ptR2S, TERM::Payload::ptT38_UDP_TL, TERM::Payload::reserv_1}) {
    streams.clear();
    c = {};
    c.payload = payload;
    auto const got = create(4, 10, c);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources);
    EXPECT_NE(streams.log().find(std::string(kPrefix) + "rtp do not created: payload "), std::string::npos);
    EXPECT_EQ(descriptors(), before);
  }
  EXPECT_NE(streams.log().find("payload reserv-1not found\n"), std::string::npos) << streams.log();
}

TEST_F(RtpSlotTest, EdgesOfTheAddressesAndTheAbsentFields) {
  // Without shost the RTCP socket binds the destination's RTP port + 1 and sends there.
  Peer peer(true);
  RtpCreate c;
  c.dhost = {"127.0.0.1", static_cast<unsigned>(peer.port() - 1)};
  ASSERT_TRUE(is_success(create(1, 7, c).at(0)));
  std::string const port = std::to_string(c.dhost.port);
  std::string const begin = last_begin();
  EXPECT_EQ(begin.substr(0, begin.find(" ssrc=")), "/dev/rtp ioctl begin dst=127.0.0.1:" + port + " src=0.0.0.0:" +
                                                       port + " rx_pt=8 tx_pt=8 pf=0 vad=0 crate=0");
  EXPECT_EQ(begin.substr(begin.find(" ttl=")), " ttl=0 tos=-1");
  int from = 0;
  ASSERT_TRUE(peer.receive(2000, &from));
  EXPECT_EQ(from, peer.port());

  // A port of 65535 wraps the RTCP ports to 0; a name is no dotted address.
  c = {};
  c.dhost = {"127.0.0.1", 65535};
  ASSERT_TRUE(is_success(create(2, 8, c).at(0)));
  c = {};
  c.dhost = {"peer.example", 40000};
  ASSERT_TRUE(is_success(create(3, 9, c).at(0)));
  EXPECT_NE(last_begin().find(" dst=255.255.255.255:40000 "), std::string::npos) << last_begin();
  // The radio factories take a create with a radio request: not a line from this one.
  LGCP::CreateParams radio = create_params({});
  radio.ref_rtp().ref_codecRTP().set_radio(TERM::RtpRadioRequest());
  streams.clear();
  EXPECT_EQ(RtpFactory::instance().INewSlot(radio), nullptr);
  EXPECT_EQ(streams.log(), "");
}

TEST_F(RtpSlotTest, SourcesWithoutSsrcAreTheFamilysOwnAndLeaveTheCLibraryAlone) {
  ::srandom(1);
  RtpCreate c;
  ASSERT_TRUE(is_success(create(1, 7, c).at(0)));
  std::string const first = last_begin();
  ASSERT_TRUE(is_success(create(2, 8, c).at(0)));
  std::string const second = last_begin();
  auto ssrc_of = [](std::string const& begin) {
    std::size_t const at = begin.find("ssrc=") + 5;
    return begin.substr(at, begin.find(' ', at) - at);
  };
  EXPECT_NE(ssrc_of(first), ssrc_of(second));
  EXPECT_NE(ssrc_of(first), "1804289383") << "rand's first value after srandom(1)";
  EXPECT_NE(ssrc_of(second), "1804289383");
  EXPECT_EQ(::random(), 1804289383) << "the C library's sequence is untouched";
  // Without the kernel's entropy the seed comes from the clocks, which move.
  EXPECT_NE(RtpSsrc::fallback_seed(), RtpSsrc::fallback_seed());
}

TEST_F(RtpSlotTest, EachFailedCreateIsAnsweredAndLeavesNothingOpen) {
  // The tone and DSP services open their devices at first use, and keep them.
  ASSERT_TRUE(is_success(create(1, 7, {}).at(0)));
  ASSERT_TRUE(is_success(command(2, 7, [](LGCP::Command& cmd) { cmd.select_destroy(); }).at(0)));
  struct Failure {
    char const* request;
    int error;
    std::string line;
  };
  int const held_port = free_udp_port();
  Fd holder(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(static_cast<std::uint16_t>(held_port));
  ASSERT_EQ(::bind(holder.lowlevel_fd(), reinterpret_cast<sockaddr*>(&any), sizeof any), 0) << Errno();
  std::size_t const before = descriptors();
  std::vector<Failure> const failures = {
      {nullptr, 0,
       std::string(kPrefix) + "rtp do not created: can not bind socket [errno=Address already in use, port=" +
           std::to_string(held_port) + "]\n"},
      {"open", ENODEV, std::string(kPrefix) + "device \"/dev/rtp\" open fail: No such device\n"},
      {"ioctl begin", EINVAL, std::string(kPrefix) + "begin session fail !!! \n"},
      {"ioctl add-channel", ENOSPC, std::string(kPrefix) + "add channel fail !!!\n"},
  };
  int seq = 10;
  for (Failure const& failure : failures) {
    streams.clear();
    RtpCreate c;
    if (failure.request) {
      test::switch_board().fail("/dev/rtp", failure.request, failure.error, BoardSim::Repeat::once);
    } else {
      c.shost = Host{"127.0.0.1", static_cast<unsigned>(held_port - 1)};
    }
    auto const got = create(++seq, 9, c);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::insufficientResources) << failure.line;
    EXPECT_NE((streams.log() + streams.err()).find(failure.line), std::string::npos)
        << "log:\n" << streams.log() << "err:\n" << streams.err();
    EXPECT_EQ(stand_in("state rtp"), (std::vector<std::string>{"sessions=0 channels=", "ok"})) << failure.line;
    EXPECT_EQ(descriptors(), before) << failure.line;
  }
}

TEST_F(RtpSlotTest, TheResourcesReportCarriesTheCodecCapacity) {
  auto query = [&](int seq) {
    auto const got = command(seq, -1, [](LGCP::Command& cmd) { cmd.select_query(); });
    LGCP::Signal const* const signal = signal_of(got, LGCP::Signal::query::id);
    EXPECT_NE(signal, nullptr);
    std::vector<int> counts;
    if (!signal) return counts;
    LGCP::Resources const& r = signal->get_query();
    for (auto const* value : {&r.get_rtp_g729(), &r.get_rtp_g723(), &r.get_rtp_g711(), &r.get_rtp_g711mcc(),
                              &r.get_universal()})
      counts.push_back(value->getValue());
    return counts;
  };
  stand_in("clear");
  EXPECT_EQ(query(1), (std::vector<int>{12, 10, 30, 0, 24}));
  EXPECT_EQ(requests("/dev/voice", "ioctl capacity"),
            (std::vector<std::string>{"/dev/voice ioctl capacity mask=4 result=12",
                                      "/dev/voice ioctl capacity mask=2 result=10",
                                      "/dev/voice ioctl capacity mask=1 result=30",
                                      "/dev/voice ioctl capacity mask=8 result=0",
                                      "/dev/voice ioctl capacity mask=65 result=24"}));
  // A family that has no channel, or whose request fails, reports 0 again.
  stand_in("set voice 1 7");
  test::switch_board().fail("/dev/voice", "ioctl capacity", EIO, BoardSim::Repeat::once);
  EXPECT_EQ(query(2), (std::vector<int>{0, 10, 7, 0, 24}));
  stand_in("set voice 1 30");
  EXPECT_EQ(query(3), (std::vector<int>{12, 10, 30, 0, 24}));
}

}  // namespace
