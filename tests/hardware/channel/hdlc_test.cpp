// The HDLC framer channel against the stand-in's HDLC controller and switch: what it
// asks of both, the frames it reads and writes, readiness, and its failure paths.

#include "hardware/hdlc.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/board_io.h"
#include "hardware/hw_mux.h"
#include "tests/protocol/link_harness.h"
#include "tests/support/board_fixture.h"
#include "tests/support/logged_requests.h"
#include "tests/support/switch_board.h"
#include "tests/support/test_files.h"
#include "tests/support/trace_scope.h"

namespace {

using BoardSim::Repeat;
using Lines = std::vector<std::string>;

std::string text(Packet const& p) {
  std::ostringstream out;
  out << p;
  return out.str();
}

// Records the callbacks as "rx <bytes>", "error <cause>", "ready"; a test may act inside them.
struct Recorder : HDLC::Notify {
  Lines events;
  std::function<void()> on_receive;
  void on_hdlc_receive(Packet& frame) override {
    events.push_back("rx " + text(frame));
    if (on_receive) on_receive();
  }
  void on_hdlc_error(Cause::Type cause) override { events.push_back("error " + std::to_string(cause)); }
  void on_hdlc_ready() override { events.push_back("ready"); }
};

// The poll of the test's time, after which every descriptor reports an error and nothing
// else, as a device that failed would; a loop that spins on it ends after 1000 passes.
Multiplexer::PollFunction g_time_poll = nullptr;
unsigned g_passes = 0;
int poll_reporting_errors(pollfd* records, nfds_t count, int timeout_ms) {
  g_time_poll(records, count, timeout_ms);
  if (++g_passes > 1000) multiplexer.terminate();
  int ready = 0;
  for (nfds_t i = 0; i < count; ++i)
    if (records[i].fd >= 0) {
      records[i].revents = POLLERR;
      ++ready;
    }
  return ready;
}

class HdlcTest : public ::testing::Test {
protected:
  HdlcTest() {
    HwMux::instance();
    hdlc.bind(&notify);
    HDLC::Params params;
    params.tdm = 5;
    params.type = 1;
    hdlc.params(params);
  }

  BoardSim::Sim& sim() { return test::switch_board(); }
  // The port of the channel allocated last.
  static int port() {
    auto const channels = test::mcc_model().channels();
    return channels.empty() ? -1 : static_cast<int>(channels.back().port);
  }
  void inject(std::string const& hex) {
    ASSERT_EQ(test::mcc_model().inject(static_cast<std::uint32_t>(port()), unhex(hex)), "");
  }
  static std::string unhex(std::string const& hex) {
    std::string bytes;
    BoardSim::hex_bytes(hex, bytes);
    return bytes;
  }
  Lines fields(std::string const& device, std::string const& request) { return test::logged_fields(sim(), device, request); }
  // A few passes of the loop.
  static void run() { test::run_until([] { return false; }, 20); }
  // Passes until `done`; the loop stops before the descriptors of the pass that saw it.
  static bool run_until(std::function<bool()> done) { return test::run_until(std::move(done), 1000); }
  bool send(std::string const& hex) {
    Packet frame;
    frame.reserve_head(0);
    std::string const bytes = unhex(hex);
    std::copy(bytes.begin(), bytes.end(), frame.put(static_cast<unsigned>(bytes.size())));
    return hdlc.hdlc_transmit(frame);
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::SwitchBoardScope board;
  test::StreamCapture streams;
  test::DiagCapture diag;
  Recorder notify;
  HDLC hdlc;
};

TEST_F(HdlcTest, ActivateAllocatesConnectsBothWaysAndReportsReadinessOnce) {
  ASSERT_TRUE(hdlc.activate());
  EXPECT_TRUE(hdlc.is_open());
  EXPECT_FALSE(hdlc.is_ready()) << "not before the device says so";
  EXPECT_EQ(fields("/dev/mcc/ctl", "open"), Lines{"flags=O_RDWR|O_NONBLOCK"});
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_ALLOCATE"), Lines{"mode=0 size=512 reserved=0 rx=1 tx=4"});
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_TIMESLOT"), Lines{"value=0x0 result=" + std::to_string(port())});
  std::string const p = std::to_string(port());
  EXPECT_EQ(fields("/dev/hal", "ioctl connect"), (Lines{"output=5 input=" + p, "output=" + p + " input=5"}));
  run();
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(notify.events, Lines{"ready"}) << "once, however many passes see the device writable";
  EXPECT_EQ(hdlc.statistics().overflows, 0u);

  // Activating again gives a new channel with cleared counters.
  ASSERT_TRUE(send("0102"));
  EXPECT_EQ(hdlc.statistics().sent, 1u);
  ASSERT_TRUE(hdlc.activate());
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_ALLOCATE").size(), 2u) << "a new channel";
  EXPECT_EQ(fields("/dev/mcc/ctl", "close").size(), 1u) << "the old one closed first";
  EXPECT_EQ(test::mcc_model().channels().size(), 1u);
  EXPECT_EQ(hdlc.statistics().sent, 0u);
  EXPECT_FALSE(hdlc.is_ready());
}

TEST_F(HdlcTest, TheTypeSetsTheModeAndTypeTwoTransmitsToTheSecondPort) {
  HDLC::Params params = hdlc.params();
  params.type = 2;
  params.tdm = 40;      // A
  params.tdm_tx = 41;   // B
  hdlc.params(params);
  ASSERT_TRUE(hdlc.activate());
  std::string const p = std::to_string(port());
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_ALLOCATE"), Lines{"mode=1 size=512 reserved=0 rx=1 tx=4"});
  EXPECT_EQ(fields("/dev/hal", "ioctl connect"), (Lines{"output=41 input=" + p, "output=" + p + " input=40"}));

  params.type = 0;
  hdlc.params(params);
  ASSERT_TRUE(hdlc.activate());
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_ALLOCATE").back(), "mode=3 size=512 reserved=0 rx=1 tx=4");

  params.type = 7;
  hdlc.params(params);
  sim().clear_requests();
  EXPECT_FALSE(hdlc.activate());
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_TRUE(fields("/dev/mcc/ctl", "open").empty()) << "an unknown type opens nothing";
  EXPECT_EQ(streams.err(), "hdlc [0/0]: HDLC type 7 unknown: not activated\n");
}

TEST_F(HdlcTest, FramesWaitingAreReadInOneEventInOrderUntilTheDeviceIsEmpty) {
  ASSERT_TRUE(hdlc.activate());
  inject("0102");
  inject("03");
  inject("040506");
  sim().clear_requests();
  run();
  EXPECT_EQ(notify.events, (Lines{"rx 01 02", "rx 03", "rx 04 05 06", "ready"}));
  Lines const reads = fields("/dev/mcc/ctl", "read");
  ASSERT_EQ(reads.size(), 4u) << "one read a frame, then the empty device";
  EXPECT_EQ(reads[0], "len=65536 got=2") << "a read into the whole packet";
  EXPECT_EQ(reads[3], "len=65536 -> EAGAIN");
  EXPECT_EQ(hdlc.statistics().received, 3u);
  EXPECT_EQ(streams.err(), "");
}

TEST_F(HdlcTest, AChannelClosedInsideReceiveReadsNoMoreAndIsNeverReady) {
  ASSERT_TRUE(hdlc.activate());
  inject("01");
  inject("02");  // still waiting when the owner closes
  notify.on_receive = [&] { hdlc.deactivate(); };
  run();
  EXPECT_EQ(notify.events, Lines{"rx 01"}) << "no second frame, no error, and no readiness of a closed channel";
  EXPECT_FALSE(hdlc.is_ready());
}

TEST_F(HdlcTest, AChannelReopenedInsideReceiveIsNotMadeReadyByTheOldEvent) {
  ASSERT_TRUE(hdlc.activate());
  inject("01");
  bool reopened = false;
  notify.on_receive = [&] { reopened = hdlc.activate(); };
  ASSERT_TRUE(run_until([&] { return reopened; }));
  EXPECT_FALSE(hdlc.is_ready()) << "the writable event was the closed channel's";
  EXPECT_EQ(notify.events, Lines{"rx 01"});
  run();
  EXPECT_TRUE(hdlc.is_ready()) << "the new channel's own event";
  EXPECT_EQ(notify.events, (Lines{"rx 01", "ready"}));
}

TEST_F(HdlcTest, AReadOfNothingIsTheEndOfTheChannelWhateverErrnoSays) {
  ASSERT_TRUE(hdlc.activate());
  inject("01");
  inject("");  // a read of 0 bytes
  // The owner's callback leaves errno at EAGAIN, as a failed call of its own would.
  notify.on_receive = [] { errno = EAGAIN; };
  run();
  EXPECT_EQ(notify.events, (Lines{"rx 01", "error 0"}));
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_EQ(streams.err(), "hdlc [0/0]: read error: end of file\n");

  ASSERT_TRUE(hdlc.activate());
  notify.events.clear();
  sim().fail(Board::kMccControl, "read", EIO, Repeat::once);
  inject("01");
  run();
  EXPECT_EQ(notify.events, Lines{"error 0"}) << "closed before the ready check";
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_NE(streams.err().find("hdlc [0/0]: read error: Input/output error\n"), std::string::npos);
}

TEST_F(HdlcTest, AnErrorWithNothingToReadIsAFailedReadAndEndsThePolling) {
  ASSERT_TRUE(hdlc.activate());
  g_passes = 0;
  g_time_poll = multiplexer.set_poll_function(&poll_reporting_errors);
  run();
  multiplexer.set_poll_function(g_time_poll);
  EXPECT_LT(g_passes, 100u) << "the channel is no longer polled";
  EXPECT_EQ(notify.events, Lines{"error 0"});
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_EQ(streams.err(), "hdlc [0/0]: read error: hung up\n");
}

TEST_F(HdlcTest, WritesCountedByOutcomeAndAFullDeviceMakesTheChannelWaitForReadiness) {
  Packet empty;
  EXPECT_TRUE(hdlc.hdlc_transmit(empty)) << "nothing to send";
  EXPECT_FALSE(send("01"));
  EXPECT_EQ(hdlc.statistics().discarded, 1u) << "offered while closed";

  ASSERT_TRUE(hdlc.activate());
  run();
  notify.events.clear();
  sim().fail(Board::kMccControl, "write", EINTR, Repeat::once);
  EXPECT_TRUE(send("0203")) << "an interrupted write is made again";
  sim().fail(Board::kMccControl, "write", EAGAIN, Repeat::once);
  EXPECT_FALSE(send("04"));
  EXPECT_FALSE(hdlc.is_ready());
  run();
  EXPECT_TRUE(hdlc.is_ready());
  EXPECT_EQ(notify.events, Lines{"ready"}) << "exactly once after the refusal";
  EXPECT_FALSE(send(std::string(2 * 513, 'a'))) << "over the packet size";
  EXPECT_TRUE(hdlc.is_ready()) << "a failed write leaves the channel ready";

  HDLC::Statistics const& s = hdlc.statistics();
  EXPECT_EQ(s.sent, 1u);
  EXPECT_EQ(s.discarded, 0u) << "cleared by activate";
  EXPECT_EQ(s.write_errors, 1u) << "EAGAIN is no error";
  EXPECT_EQ(s.overflows, 0u);
  Lines const writes = fields("/dev/mcc/ctl", "write");
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0], "data=\"\\x02\\x03\" -> EINTR");
  EXPECT_EQ(writes[1], "data=\"\\x02\\x03\"");
  EXPECT_NE(writes[3].find("len=513 -> EMSGSIZE"), std::string::npos) << writes[3];
}

TEST_F(HdlcTest, WithThePoolEmptyAReceivedFrameIsReadAndDropped) {
  ASSERT_TRUE(hdlc.activate());
  {
    std::vector<Packet> const all = test::take_every_packet_buffer();
    inject("0102");
    inject("030405");
    run();
  }
  EXPECT_EQ(notify.events, Lines{"ready"});
  EXPECT_EQ(streams.err(), "hdlc [0/0]: no packet for a received frame: 2 bytes dropped\n"
                           "hdlc [0/0]: no packet for a received frame: 3 bytes dropped\n");
  EXPECT_EQ(hdlc.statistics().received, 0u);
  inject("06");
  run();
  EXPECT_EQ(notify.events, (Lines{"ready", "rx 06"})) << "the next frame finds a packet again";
}

TEST_F(HdlcTest, AFailedOpenAllocationOrTimeslotLeavesTheChannelClosed) {
  sim().fail(Board::kMccControl, "open", ENOENT, Repeat::once);
  EXPECT_FALSE(hdlc.activate());
  sim().fail(Board::kMccControl, "ioctl MCC_ALLOCATE", ENOSPC, Repeat::once);
  EXPECT_FALSE(hdlc.activate());
  sim().fail(Board::kMccControl, "ioctl MCC_TIMESLOT", EINVAL, Repeat::once);
  EXPECT_FALSE(hdlc.activate());
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_EQ(streams.err(), "hdlc [0/0]: fail to open MCC device: No such file or directory\n"
                           "hdlc [0/0]: MCC_ALLOCATE fail: No space left on device\n"
                           "hdlc [0/0]: MCC_TIMESLOT fail: Invalid argument\n");
  EXPECT_EQ(fields("/dev/mcc/ctl", "close").size(), 2u) << "each descriptor opened is closed";
  EXPECT_TRUE(fields("/dev/hal", "ioctl connect").empty());
}

TEST_F(HdlcTest, AChannelTheLoopCannotTakeIsNotActivatedAndLeavesTheSwitchAsItWas) {
  // Once with descriptors free: the sanitizers' type checks on the way need some.
  ASSERT_TRUE(hdlc.activate());
  hdlc.deactivate();
  sim().clear_requests();
  bool activated = true;
  {
    test::DescriptorsTaken const two(2);  // the open's two ends, and no duplicate
    activated = hdlc.activate();
  }
  EXPECT_FALSE(activated);
  EXPECT_FALSE(hdlc.is_open());
  EXPECT_NE(streams.err().find("hdlc [0/0]: channel not watched: not activated\n"), std::string::npos)
      << streams.err();
  EXPECT_EQ(fields("/dev/mcc/ctl", "ioctl MCC_TIMESLOT").size(), 1u);
  EXPECT_TRUE(fields("/dev/hal", "ioctl connect").empty());
  EXPECT_TRUE(test::mcc_model().channels().empty()) << "its descriptor closed";
}

TEST_F(HdlcTest, TracesNameTheTrunkAndTimeslotAndShowTheFrames) {
  test::TraceScope restore;
  traces.signalling.hdlc = true;
  HDLC::Params params = hdlc.params();
  params.timeslot = 16;
  hdlc.params(params);
  hdlc.trunk(2);
  ASSERT_TRUE(hdlc.activate());
  run();
  ASSERT_TRUE(send("0A0B"));
  inject("0C");
  run();
  std::string const log = streams.log();
  EXPECT_NE(log.find("hdlc [2/16]: activated\n"), std::string::npos) << log;
  EXPECT_NE(log.find("HDLC[2]: tx 0A 0B\n"), std::string::npos) << log;
  EXPECT_NE(log.find("hdlc [2/16]: do_read\nHDLC[2]: rx 0C\n"), std::string::npos) << log;
  hdlc.deactivate();
  EXPECT_NE(streams.log().find("hdlc [2/16]: deactivated\n"), std::string::npos);
}

}  // namespace
