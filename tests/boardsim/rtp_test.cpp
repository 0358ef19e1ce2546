// The RTP session driver's stand-in: sessions and their channels, the requests it
// refuses, its state lines, and the event records that never block a read.

#include "boardsim/rtp.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <sstream>

#include "boardsim/control.h"
#include "foundation/board_requests.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class RtpModelTest : public BoardTest {
protected:
  BoardSim::Rtp& rtp = sim.add<BoardSim::Rtp>();

  // A blocking read-only open, as the slots make it.
  Fd open() { return Fd(Board::io().open(Board::kRtp, O_RDONLY)); }
  static int begin(Fd const& fd, std::uint16_t port = 40000) {
    Board::rtp_connection_params p{};
    p.dst_addr = ::inet_addr("127.0.0.1");
    p.dst_port = port;
    p.src_port = port;
    p.rx_pt = 8;
    p.tx_pt = 18;
    p.ssrc = 16909060;
    p.tos = -1;
    return Board::io().ioctl(fd.lowlevel_fd(), Board::RTP_BEGIN_SESSION, &p) == 0 ? 0 : errno;
  }
  // The channel got, or -errno.
  static int add(Fd const& fd, int tdm = -1) {
    Board::rtp_channel_info info{tdm, -1, -1, 0};
    return Board::io().ioctl(fd.lowlevel_fd(), Board::RTP_ADD_CHANNEL, &info) == 0 ? info.tdm : -errno;
  }
  static int by_value(Fd const& fd, unsigned long code, unsigned long value = 0) {
    return Board::io().ioctl_value(fd.lowlevel_fd(), code, value) == 0 ? 0 : errno;
  }
  template <class Record>
  static int request(Fd const& fd, unsigned long code, Record record) {
    return Board::io().ioctl(fd.lowlevel_fd(), code, &record) == 0 ? 0 : errno;
  }
  std::string last() {
    std::ostringstream text;
    text << sim.requests(Board::kRtp).back();
    return text.str().substr(text.str().find(' ') + 1);
  }
  Lines run(std::string_view line) { return BoardSim::control_command(sim, line); }
};

TEST_F(RtpModelTest, SessionsTakeChannelsAndGiveThemBackWithTheirLastClose) {
  DiagCapture refusals;
  Fd a = open(), b = open();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(add(a), -EINVAL) << "no channel before begin";
  EXPECT_EQ(begin(a), 0);
  EXPECT_EQ(last(), "/dev/rtp ioctl begin dst=127.0.0.1:40000 src=0.0.0.0:40000 rx_pt=8 tx_pt=18 pf=0 vad=0 "
                    "crate=0 ssrc=16909060 ttl=0 tos=-1");
  EXPECT_EQ(begin(a), EINVAL) << "one session per open";
  EXPECT_EQ(add(a), 2048);
  EXPECT_EQ(last(), "/dev/rtp ioctl add-channel tdm=-1 dev_no=-1 chn=-1 got=2048");
  EXPECT_EQ(add(a), -EINVAL) << "one channel per session";
  EXPECT_EQ(begin(b), 0);
  EXPECT_EQ(add(b, 2048), -EBUSY);
  EXPECT_EQ(add(b, 4000), -EINVAL);
  EXPECT_EQ(add(b), 2049);
  EXPECT_EQ(run("state rtp"), (Lines{"sessions=2 channels=2048,2049", "ok"}));

  // A dup keeps the open; the last close frees its channel for a given tdm.
  Fd copy = a;
  a.close();
  EXPECT_EQ(run("state rtp"), (Lines{"sessions=2 channels=2048,2049", "ok"}));
  copy.close();
  Fd c = open();
  EXPECT_EQ(begin(c), 0);
  EXPECT_EQ(add(c, 2048), 2048);

  // Every channel held: none left to choose.
  std::vector<Fd> all;
  for (int i = 2; i < BoardSim::Rtp::kChannels; ++i) {
    all.push_back(open());
    ASSERT_EQ(begin(all.back()), 0);
    ASSERT_GE(add(all.back()), 2050);
  }
  Fd full = open();
  EXPECT_EQ(begin(full), 0);
  EXPECT_EQ(add(full), -ENOSPC);
}

TEST_F(RtpModelTest, TransmissionAndPacketDetectionShowInTheChannelState) {
  DiagCapture refusals;
  Fd fd = open();
  EXPECT_EQ(by_value(fd, Board::RTP_TX_START), EINVAL) << "no session yet";
  ASSERT_EQ(begin(fd), 0);
  ASSERT_EQ(add(fd), 2048);
  EXPECT_EQ(by_value(fd, Board::RTP_TX_START), 0);
  EXPECT_EQ(last(), "/dev/rtp ioctl tx-start value=0x0");
  EXPECT_EQ(by_value(fd, Board::RTP_TX_START, 1), EINVAL);
  EXPECT_EQ(request(fd, Board::RTP_TX_STOP, std::uint32_t{0}), EINVAL) << "a by-value request given a record";
  EXPECT_EQ(by_value(fd, Board::RTP_SET_EVENT_PD), EFAULT) << "a record request given a value";
  EXPECT_EQ(request(fd, Board::RTP_SET_EVENT_PD, Board::pd_params(500)), 0);
  EXPECT_EQ(last(), "/dev/rtp ioctl pd-set timeout=500");
  Board::rtp_pd_params odd = Board::pd_params(500);
  odd.words[5] = 7;
  EXPECT_EQ(request(fd, Board::RTP_SET_EVENT_PD, odd), EINVAL);
  EXPECT_EQ(last(), "/dev/rtp ioctl pd-set words=1,0,500,0,0,7,0,0,0 -> EINVAL");
  EXPECT_EQ(run("state rtp 2048"), (Lines{"channel=2048 dst=127.0.0.1:40000 src=0.0.0.0:40000 rx_pt=8 tx_pt=18 "
                                          "ssrc=16909060 transmitting=yes pd=500",
                                          "ok"}));
  EXPECT_EQ(request(fd, Board::RTP_RESET_EVENT_PD, std::int32_t{0}), EINVAL);
  EXPECT_EQ(request(fd, Board::RTP_RESET_EVENT_PD, std::int32_t{1}), 0);
  EXPECT_EQ(last(), "/dev/rtp ioctl pd-reset value=1");
  EXPECT_EQ(by_value(fd, Board::RTP_TX_STOP), 0);
  for (unsigned long code : {Board::RTP_TEARDOWN_1, Board::RTP_TEARDOWN_2, Board::RTP_TEARDOWN_3})
    EXPECT_EQ(by_value(fd, code), 0);
  EXPECT_EQ(run("state rtp 2048").front(), "channel=2048 dst=127.0.0.1:40000 src=0.0.0.0:40000 rx_pt=8 tx_pt=18 "
                                          "ssrc=16909060 transmitting=no pd=off");
  EXPECT_EQ(run("state rtp 2049"), (Lines{"error no session holds channel 2049"}));
}

TEST_F(RtpModelTest, EventsGoToTheChannelsOpenAndAnEmptyQueueNeverBlocks) {
  Fd other = open(), fd = open();
  ASSERT_EQ(begin(other), 0);
  ASSERT_EQ(add(other), 2048);
  ASSERT_EQ(begin(fd), 0);
  ASSERT_EQ(add(fd), 2049);
  Board::rtp_event event{};
  // The blocking open reads EAGAIN, as the driver's does.
  EXPECT_EQ(Board::io().read(fd.lowlevel_fd(), &event, sizeof event), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(run("set rtp event 2049 1 500 -1"), (Lines{"ok"}));
  ASSERT_EQ(Board::io().read(fd.lowlevel_fd(), &event, sizeof event), static_cast<ssize_t>(sizeof event));
  EXPECT_EQ(event.type, 1u);
  EXPECT_EQ(event.value, 500u);
  EXPECT_EQ(event.timeout, 0xffffffffu);
  EXPECT_EQ(Board::io().read(other.lowlevel_fd(), &event, sizeof event), -1) << "not the other channel's";
  EXPECT_EQ(run("set rtp event 2050 1 1 1"), (Lines{"error no session holds channel 2050"}));
  EXPECT_EQ(run("set rtp event 2049 1 1"), (Lines{"error usage: set rtp event <channel> <type> <value> <timeout>"}));
}

}  // namespace
}  // namespace test
