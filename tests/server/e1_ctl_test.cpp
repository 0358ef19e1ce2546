// E1 control against the stand-in's maintenance and CAS devices: the status reports at
// connection and every second, the transmit-clock mask, the received-bit events.

#include "server/e1_ctl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/server/board_services.h"

namespace {

using BoardSim::Repeat;
using board_test::trunk_cfg;
using lgcp_test::is_success;
using test_server::cas_signals;
using test_server::trunk_signals;
using Strings = std::vector<std::string>;

class E1CtlTest : public test_server::BoardServicesTest {
protected:
  E1Ctl& e1 = make<E1Ctl>();
};

TEST_F(E1CtlTest, EveryTrunkAtConnectionThenEverySecondAlsoWithoutAController) {
  model("/dev/maintenance", "set", {"1", "2", "3", "4", "5", "6", "7"});
  model("/dev/maintenance", "set", {"2", "9", "0", "0", "0", "0", "4294967295"});
  connect();
  auto got = controller.receive(4);
  Strings const expected = {"e1 0 normal slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0",
                            "e1 1 lossCarrier slips=3 lossBF=4 lossCarrier=5 lossAIS=6 lossRAI=7",
                            // A state the message cannot carry would lose the report.
                            "e1 2 unknown slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=-1",
                            "e1 3 normal slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0"};
  EXPECT_EQ(trunk_signals(got), expected);
  EXPECT_EQ(fields("/dev/maintenance", "ioctl tclk"), Strings{"value=0x0"});
  EXPECT_NE(streams.log().find("E1: TCLT = 0x0\n"), std::string::npos) << streams.log();
  EXPECT_NE(streams.log().find("E1: cas interface opened!\n"), std::string::npos) << streams.log();

  EXPECT_TRUE(trunk_signals(run_for(990)).empty()) << "no sooner than a second";
  EXPECT_EQ(trunk_signals(run_for(20)).size(), 4u);

  // The timer goes on without a controller: the link drops the reports.
  controller.close();
  run_for(10);
  sim.clear_requests();
  run_for(2000);
  EXPECT_EQ(fields("/dev/maintenance", "ioctl status").size(), 8u);
}

TEST_F(E1CtlTest, AFailedStatusReadIsLoggedAndTheOtherTrunksStillCome) {
  sim.fail("/dev/maintenance", "ioctl status", EIO, Repeat::once);
  connect();
  auto const got = trunk_signals(controller.receive(3));
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].substr(0, 5), "e1 1 ");
  EXPECT_EQ(got[2].substr(0, 5), "e1 3 ");
  EXPECT_NE(streams.err().find("E1: synchronization status read fail, trunk = 0 cause = Input/output error\n"),
            std::string::npos)
      << streams.err();
}

TEST_F(E1CtlTest, TrunkModesSetAndClearTheirBitOfTheTransmitClockMask) {
  connect();
  run_for(10);
  sim.clear_requests();
  auto answered = [&](LGCP::Message const& m) {
    auto const got = controller.exchange(m);
    return !got.empty() && is_success(got.back());
  };
  EXPECT_TRUE(answered(trunk_cfg(1, 2, LGCP::TrunkMode::slave)));
  EXPECT_TRUE(answered(trunk_cfg(2, 31, LGCP::TrunkMode::slave)));
  EXPECT_TRUE(answered(trunk_cfg(3, 2, LGCP::TrunkMode::master)));
  EXPECT_TRUE(answered(trunk_cfg(4, 40, LGCP::TrunkMode::slave))) << "past the mask: sent unchanged";
  EXPECT_TRUE(answered(trunk_cfg(5, -1, LGCP::TrunkMode::slave))) << "negative: nothing sent";
  EXPECT_EQ(fields("/dev/maintenance", "ioctl tclk"),
            (Strings{"value=0x4", "value=0x80000004", "value=0x80000000", "value=0x80000000"}));
  EXPECT_NE(streams.log().find("E1: TCLT = 0x4\n"), std::string::npos) << streams.log();
  EXPECT_NE(streams.log().find("E1: TCLT = 0x80000000\n"), std::string::npos) << streams.log();

  sim.fail("/dev/maintenance", "ioctl tclk", EIO, Repeat::once);
  EXPECT_TRUE(answered(trunk_cfg(6, 0, LGCP::TrunkMode::slave))) << "answered success whatever happened";
  EXPECT_NE(streams.err().find("E1: fail to set TCLK [cause=Input/output error]\n"), std::string::npos)
      << streams.err();
}

TEST_F(E1CtlTest, ReceivedBitsComeWholeOrNotAtAllAndAHangUpEndsThePolling) {
  connect();
  run_for(10);
  controller.exchange(board_test::cas(1, -1, 1, 5, board_test::Cas::open, 9));
  model("/dev/e1-cas", "set", {"rx", "1", "5", "10"});
  EXPECT_EQ(cas_signals(controller.receive()), Strings{"{1, 5, 10, 9}"});
  Board::CasChannel const two[2] = {{2, 7, 3, 4, {}}, {3, 8, 5, 6, {}}};
  ASSERT_TRUE(sim.deliver(Board::kE1Cas, "\x01\x02", 2));
  ASSERT_TRUE(sim.deliver(Board::kE1Cas, "", 0));
  ASSERT_TRUE(sim.deliver(Board::kE1Cas, two, sizeof two));
  EXPECT_EQ(cas_signals(run_for(50)), Strings{"{2, 7, 3, 4}"})
      << "a short read is dropped; a 12-byte read takes the head of a longer message";
  EXPECT_TRUE(cas_signals(run_for(1)).empty());

  // Every open of this test's stand-in hangs up (an empty record finds the descriptors
  // that are its opens): the CAS event stops, or the loop would find it ready on every
  // pass and simulated time would never move on.
  for (int fd = 0; fd < 1024; ++fd)
    if (sim.deliver(fd, "", 0)) ::shutdown(fd, SHUT_RDWR);
  unsigned passes = 0;
  poll.before_poll = [&] {
    if (++passes > 1000) multiplexer.terminate();  // spinning: end the run, and the test with a failure
  };
  run_for(3000);
  EXPECT_LT(passes, 100u);
  EXPECT_NE(streams.err().find("E1: cas interface hung up: no more received bits\n"), std::string::npos)
      << streams.err();
}

// The CAS device as a pipe, a stream that keeps no record boundaries; nothing else opens.
class CasStream : public Board::SystemIo {
public:
  CasStream() : m_previous(Board::install(this)) { EXPECT_EQ(::pipe2(m_ends, O_NONBLOCK), 0); }
  ~CasStream() override {
    Board::install(m_previous);
    ::close(m_ends[1]);
  }
  // The read end goes to the opener, which closes it.
  int open(char const* path, int) override { return std::string_view(path) == Board::kE1Cas ? m_ends[0] : -1; }
  int writer() const { return m_ends[1]; }

private:
  Board::Io* m_previous;
  int m_ends[2] = {-1, -1};
};

TEST_F(E1CtlTest, RecordsQueuedOnAStreamDeviceComeOneByOne) {
  CasStream stream;
  connect();
  Board::CasChannel const three[3] = {{0, 1, 2, 3, {}}, {1, 4, 5, 6, {}}, {2, 7, 8, 9, {}}};
  ASSERT_EQ(::write(stream.writer(), three, sizeof three), static_cast<ssize_t>(sizeof three));
  EXPECT_EQ(cas_signals(run_for(50)), (Strings{"{0, 1, 2, 3}", "{1, 4, 5, 6}", "{2, 7, 8, 9}"}));
}

}  // namespace
