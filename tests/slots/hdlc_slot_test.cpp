// HDLC slots through the slot table, on simulated time: the link header and its
// counters, the transmit queue, the batching of received frames, the statistics, and
// what the slot does when its channel or the packet pool fails it. The line is an MCC
// data slot, whose frames the stand-in carries to the HDLC slot's channel and back.

#include "slots/hdlc/hdlc_slot.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <string>
#include <vector>

#include "foundation/packet.h"
#include "server/slots.h"
#include "tests/slots/channel_fixture.h"
#include "tests/support/test_files.h"
#include "tests/support/trace_scope.h"

namespace {

using Bodies = std::vector<std::string>;
using BoardSim::Repeat;
using lgcp_test::create_hdlc;
using lgcp_test::create_mcc;
using lgcp_test::hdlc_packages;
using lgcp_test::user_data;

constexpr int kMcc = 5;
constexpr int kHdlc = 6;
constexpr int kAddress = 0x1234;

class HdlcSlotTest : public test::ChannelFixture {
protected:
  // The HDLC slot on the MCC slot's line; the log and the kept signals start empty.
  void connected() {
    ASSERT_TRUE(command(create_mcc(++seq, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)));
    mcc_port = last_port();
    ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
    ASSERT_TRUE(command(lgcp_test::command(++seq, kMcc, [](LGCP::Command& c) { c.select_connect(kHdlc); })));
    hdlc_port = last_port();
    ASSERT_NE(hdlc_port, mcc_port);
    run(1);
    kept.clear();
    test::switch_board().clear_requests();
  }
  // The frames the MCC slot received, as hex.
  Bodies frames() {
    Bodies hex;
    for (std::string const& f : received_data(kMcc)) hex.push_back(lgcp_test::hex_text(f));
    return hex;
  }
  Bodies batch_text(Bodies const& batch) {
    Bodies hex;
    for (std::string const& b : batch) hex.push_back(lgcp_test::hex_text(b));
    return hex;
  }
  // The line sends the HDLC slot a frame (hex).
  void line_sends(std::string const& hex) { ASSERT_TRUE(command(user_data(++seq, kMcc, bytes(hex)))); }
  std::vector<std::array<int, 5>> link_infos() {
    std::vector<std::array<int, 5>> found;
    for (auto const& m : take([](LGCP::Message const& m) { return lgcp_test::link_info_of(m).has_value(); }))
      found.push_back(*lgcp_test::link_info_of(m));
    return found;
  }

  int mcc_port = -1;
  int hdlc_port = -1;
};

TEST_F(HdlcSlotTest, SentFramesCarryTheAddressAndBothCounters) {
  connected();
  Bodies nine;
  for (char n = 1; n <= 9; ++n) nine.push_back(std::string(1, n));
  EXPECT_TRUE(command(hdlc_packages(++seq, kHdlc, nine))) << "queued: the command succeeded";
  run(1);
  EXPECT_EQ(frames(), (Bodies{"12 34 00 01", "12 34 20 02", "12 34 40 03", "12 34 60 04", "12 34 80 05",
                              "12 34 A0 06", "12 34 C0 07", "12 34 E0 08", "12 34 00 09"}))
      << "the ninth frame's counter is 8, of which 3 bits go";

  line_sends("12 34 A0 05");  // the peer's send counter 5
  run(1);
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {bytes("0A"), bytes("0B")})));
  run(1);
  EXPECT_EQ(frames(), (Bodies{"12 34 25 0A", "12 34 45 0B"}));
}

TEST_F(HdlcSlotTest, FramesAnnouncingMoreAreBatchedForAtMost100Ms) {
  connected();
  line_sends("12 34 A0 05 80 01");
  line_sends("12 34 A0 06 80 02");
  line_sends("12 34 A0 07 00 03");
  run(1);
  auto got = batches(kHdlc);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(batch_text(got[0]), (Bodies{"05 80 01", "06 80 02", "07 00 03"}));

  line_sends("12 34 00 08 80");
  run(99);
  EXPECT_TRUE(batches(kHdlc).empty()) << "not before 100 ms";
  run(2);
  got = batches(kHdlc);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(batch_text(got[0]), Bodies{"08 80"});

  line_sends("12 34 00 0A 80");
  line_sends("43 21 00 0B 00");  // another address's frame ends the batch, not in it
  run(1);
  got = batches(kHdlc);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(batch_text(got[0]), Bodies{"0A 80"});
  line_sends("43 21 00 0C 00");
  run(200);
  EXPECT_TRUE(batches(kHdlc).empty()) << "nothing pending, nothing sent";
}

TEST_F(HdlcSlotTest, ABatchIsSentEarlyBeforeItPassesWhatAFrameCarries) {
  connected();
  std::string const more(508, '\x80');  // whole frames of 512 bytes, each announcing more
  for (int n = 0; n < 140; ++n) inject(hdlc_port, bytes("12 34 00") + static_cast<char>(n) + more);
  run(101);
  auto const got = batches(kHdlc);
  ASSERT_EQ(got.size(), 2u) << "71 KB of bodies: two signals";
  EXPECT_EQ(got[0].size() + got[1].size(), 140u);
  EXPECT_EQ(got[1].front()[0], static_cast<char>(got[0].size())) << "in order";
  EXPECT_EQ(streams.err().find("refuse a message"), std::string::npos) << streams.err();

  for (int n = 0; n < 130; ++n) inject(hdlc_port, bytes("12 34 00") + static_cast<char>(n) + '\x80');
  run(101);
  auto const small = batches(kHdlc);
  ASSERT_EQ(small.size(), 2u) << "130 small frames: more packages than a list may hold";
  EXPECT_EQ(small[0].size(), 128u);
}

TEST_F(HdlcSlotTest, AFrameWithoutAFlagByteEndsTheBatchAndOneWithoutAHeaderIsDropped) {
  connected();
  line_sends("12 34");
  run(200);
  EXPECT_TRUE(batches(kHdlc).empty());
  EXPECT_NE(streams.err().find("HdlcSlot[0/*]: frame of 2 bytes without a link header: dropped\n"), std::string::npos);
  line_sends("12 34 00 0C");
  run(1);
  auto const got = batches(kHdlc);
  ASSERT_EQ(got.size(), 1u) << "at once: a body of one byte announces nothing more";
  EXPECT_EQ(batch_text(got[0]), Bodies{"0C"});
}

TEST_F(HdlcSlotTest, ARefusedFrameLeavesTheQueueAndABusyDeviceKeepsItsFrame) {
  connected();
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {std::string(600, 'x'), bytes("0D 00")})));
  run(1);
  EXPECT_EQ(frames(), Bodies{"12 34 20 0D 00"}) << "the frame behind the refused one goes";
  auto const writes = logged("/dev/mcc/ctl", "write");
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_NE(writes[0].find("len=603 -> EMSGSIZE"), std::string::npos) << writes[0];
  EXPECT_NE(streams.err().find("HdlcSlot[0/*]: frame of 603 bytes refused by the channel: dropped\n"),
            std::string::npos);

  test::switch_board().fail("/dev/mcc/ctl", "write", EAGAIN, Repeat::once);
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {bytes("0E 00")})));
  run(1);
  EXPECT_EQ(frames(), Bodies{"12 34 40 0E 00"}) << "sent when the device takes writes again";

  line_sends("12 34 00 0F");
  run(1);
  ASSERT_TRUE(command(lgcp_test::deactivate(++seq, kHdlc)));
  EXPECT_EQ(link_infos(), (std::vector<std::array<int, 5>>{{2, 0, 1, 0, 1}}))
      << "sent, sent while closed, write errors, overflows, received";
}

TEST_F(HdlcSlotTest, TheQueueHolds120FramesUntilTheChannelOpens) {
  ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
  Bodies many;
  for (int n = 0; n < 125; ++n) many.push_back(std::string(1, static_cast<char>(n)));
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, many)));
  ASSERT_TRUE(command(create_mcc(++seq, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)));
  ASSERT_TRUE(command(lgcp_test::command(++seq, kMcc, [](LGCP::Command& c) { c.select_connect(kHdlc); })));
  run(1);
  Bodies const got = frames();
  ASSERT_EQ(got.size(), 120u) << "the last five found the queue full";
  EXPECT_EQ(got.front(), "12 34 00 00");
  EXPECT_EQ(got.back(), "12 34 E0 77");
}

TEST_F(HdlcSlotTest, StatisticsEveryThreeSecondsAndAtOnceOnDeactivate) {
  ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
  EXPECT_TRUE(logged("/dev/mcc/ctl", "open").empty()) << "the channel opens on connect or activate";
  run(2999);
  EXPECT_TRUE(link_infos().empty());
  run(2);
  EXPECT_EQ(link_infos(), (std::vector<std::array<int, 5>>{{0, 0, 0, 0, 0}}));
  run(1000);
  ASSERT_TRUE(command(lgcp_test::deactivate(++seq, kHdlc)));
  EXPECT_EQ(link_infos().size(), 1u) << "with the answer";
  run(2999);
  EXPECT_TRUE(link_infos().empty()) << "the period starts again";
  run(2);
  EXPECT_EQ(link_infos().size(), 1u);
}

TEST_F(HdlcSlotTest, ChannelFailuresAreSignalledOrLoggedAndTheSlotStays) {
  ASSERT_TRUE(command(create_mcc(++seq, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)));
  mcc_port = last_port();
  ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
  test::switch_board().fail("/dev/mcc/ctl", "open", EMFILE, Repeat::once);
  ASSERT_TRUE(command(lgcp_test::command(++seq, kMcc, [](LGCP::Command& c) { c.select_connect(kHdlc); })));
  auto const deactivated = take([](LGCP::Message const& m) {
    return lgcp_test::slot_of(m) == kHdlc && m.get_pdu().get_signal().deactivated_isSelected();
  });
  EXPECT_EQ(deactivated.size(), 1u);

  ASSERT_TRUE(command(lgcp_test::activate(++seq, kHdlc))) << "activate opens the channel on the stored port";
  hdlc_port = last_port();
  EXPECT_EQ(logged("/dev/hal", "ioctl connect").back(),
            "output=" + std::to_string(hdlc_port) + " input=" + std::to_string(mcc_port));
  inject(hdlc_port, "");  // the channel's end of file
  run(1);
  EXPECT_NE(streams.log().find("HdlcSlot[0/*]: on_hdlc_error\n"), std::string::npos);
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {bytes("01"), bytes("02")})));
  ASSERT_TRUE(command(lgcp_test::deactivate(++seq, kHdlc)));
  EXPECT_EQ(link_infos(), (std::vector<std::array<int, 5>>{{0, 2, 0, 0, 0}}))
      << "a channel closed by a read failure: discarded at once, not queued";

  ASSERT_TRUE(command(lgcp_test::activate(++seq, kHdlc)));
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {bytes("03")})));
  run(1);
  EXPECT_EQ(frames().size(), 1u) << "activated again, the frames go";
  test::switch_board().clear_requests();
  ASSERT_TRUE(command(lgcp_test::command(++seq, kHdlc, [](LGCP::Command& c) { c.select_disconnect(); })));
  EXPECT_EQ(logged("/dev/hal", "ioctl write"), std::vector<std::string>{"output=" + std::to_string(mcc_port) + " byte=0xd5"})
      << "the source's receive channel gets the idle byte";
  EXPECT_EQ(logged("/dev/mcc/ctl", "close").size(), 1u);
}

TEST_F(HdlcSlotTest, NoChannelWithoutAPortAndTrunkStatusChangesNothing) {
  ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
  ASSERT_TRUE(command(create_hdlc(++seq, 7, 1, 0, kAddress)));
  ASSERT_TRUE(command(lgcp_test::command(++seq, kHdlc, [](LGCP::Command& c) { c.select_connect(7); })));
  EXPECT_TRUE(logged("/dev/mcc/ctl", "open").empty()) << "the other HDLC slot has no transmit channel";

  kept.clear();
  streams.clear();
  LGCP::Signal status;
  status.select_trunkStatus().set_trunk(0);
  status.ref_trunkStatus().set_state(ACP::TrunkState::lossBF);
  HdlcSlotFactory::instance().SelfSignal(status);
  run(1);
  EXPECT_TRUE(kept.empty());
  EXPECT_EQ(streams.err(), "");
  EXPECT_EQ(streams.log().find("HdlcSlot"), std::string::npos) << streams.log();
}

TEST_F(HdlcSlotTest, TracesNameTheTrunkAfterItsDecrement) {
  test::TraceScope restore;
  traces.signalling.hdlc = true;
  ASSERT_TRUE(command(create_hdlc(++seq, kHdlc, 1, 0, kAddress)));
  EXPECT_NE(streams.log().find("\n\nHdlcSlotFactory.INewSlot\n\n"), std::string::npos);
  EXPECT_NE(streams.log().find("HdlcSlot[0/*]: trunk=0, address=4660\n"), std::string::npos);
  ASSERT_TRUE(command(create_hdlc(++seq, 7, 0, 0, kAddress)));
  EXPECT_NE(streams.log().find("HdlcSlot[4294967295/*]: trunk=4294967295, address=4660\n"), std::string::npos);
  ASSERT_TRUE(command(hdlc_packages(++seq, kHdlc, {bytes("01")})));
  EXPECT_NE(streams.log().find("HdlcSlot[0/*]: enqueue package: \nHdlcSlot[0/*]: 12 34 00 01\n"), std::string::npos);
}

TEST_F(HdlcSlotTest, NineIdleSlotsEmptyThePoolWithoutEndingTheProcess) {
  unsigned const whole = Packet::pool_free();
  Bodies many(HdlcSlot::kQueueSize, bytes("00"));
  for (int slot = 10; slot < 19; ++slot) {
    ASSERT_TRUE(command(create_hdlc(++seq, slot, 1, 0, kAddress)));
    EXPECT_EQ(answer(hdlc_packages(++seq, slot, many)), -1) << "the queues leave the control link its packets";
  }
  EXPECT_NE(streams.err().find("HdlcSlot[0/*]: no packet for a frame of 4 bytes: dropped\n"), std::string::npos);
  ASSERT_TRUE(command(lgcp_test::deactivate(++seq, 18)));
  auto const infos = link_infos();
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_GT(infos[0][1], 0) << "the dropped frames are counted as discarded";
  run(1);
  server.Deactivate();  // every slot goes, and its queue with it
  EXPECT_EQ(Packet::pool_free(), whole);
}

}  // namespace
