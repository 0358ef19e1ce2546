// MCC data slots through the slot table: the channel each kind allocates, user data out
// and frames in, and the free channels in the resources report.

#include "slots/mcc/mcc_slot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <set>
#include <string>
#include <vector>

#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "tests/slots/channel_fixture.h"
#include "tests/support/test_files.h"

namespace {

using BoardSim::Repeat;
using Lines = std::vector<std::string>;
using lgcp_test::create_mcc;

constexpr int kSlot = 5;

class MccSlotTest : public test::ChannelFixture {
protected:
  // The factory's fields of a resources report, over values it must replace.
  static std::vector<int> resources() {
    LGCP::Resources r;
    r.set_mcc_data(-1);
    r.set_mcc_bri(-1);
    r.set_mcc_trans(-1);
    MccFactory::instance().Query(r);
    return {r.get_mcc_data().getValue(), r.get_mcc_bri().getValue(), r.get_mcc_trans().getValue()};
  }
  // The sockets this process holds.
  static std::set<int> sockets() {
    std::set<int> found;
    struct stat st;
    for (int fd = 0; fd < 1024; ++fd)
      if (::fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode)) found.insert(fd);
    return found;
  }
};

TEST_F(MccSlotTest, TheKindAndModeChooseTheChannelType) {
  ASSERT_TRUE(command(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)));
  ASSERT_TRUE(command(create_mcc(++seq, 6, LGCP::MccType::bri, LGCP::MccMode::ss7)));
  ASSERT_TRUE(command(create_mcc(++seq, 7, LGCP::MccType::transparent, LGCP::MccMode::standard)));
  EXPECT_EQ(logged("/dev/mcc/ctl", "open"), Lines(3, "flags=O_RDWR|O_NONBLOCK"));
  EXPECT_EQ(logged("/dev/mcc/ctl", "ioctl MCC_ALLOCATE"),
            (Lines{"mode=0 size=512 reserved=0 rx=1 tx=1", "mode=3 size=512 reserved=0 rx=1 tx=1",
                   "mode=2 size=512 reserved=0 rx=1 tx=1"}));
  for (char const* line : {"mcc: MCC_ALLOCATE type=0\n", "mcc: MCC_ALLOCATE type=3\n", "mcc: MCC_ALLOCATE type=2\n"})
    EXPECT_NE(streams.log().find(line), std::string::npos) << line;
  EXPECT_EQ(resources(), (std::vector<int>{14, 8, 15})) << "SS7 takes a data channel";

  int const port = last_port();
  ASSERT_TRUE(command(lgcp_test::command(++seq, 7, [](LGCP::Command& c) { c.select_connect(kSlot); })));
  auto const streams_up = take([](LGCP::Message const& m) { return m.get_pdu().get_signal().transmitter_isSelected(); });
  ASSERT_EQ(streams_up.size(), 1u);
  EXPECT_EQ(streams_up[0].get_pdu().get_signal().get_transmitter().get_active().getValue(), port)
      << "the channel's port is the slot's transmit channel";

  ASSERT_TRUE(command(lgcp_test::command(++seq, 6, [](LGCP::Command& c) { c.select_destroy(); })));
  EXPECT_EQ(resources(), (std::vector<int>{15, 8, 15})) << "the destroy freed its channel";
}

TEST_F(MccSlotTest, EachFrameReadBecomesOneUserDataSignal) {
  ASSERT_TRUE(command(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)));
  // A driver frame the size of the slot's read, then two short ones and one of nothing.
  ASSERT_TRUE(test::switch_board().deliver(Board::kMccControl, std::string(1024, 'a').data(), 1024));
  inject(last_port(), "b");
  inject(last_port(), "");
  inject(last_port(), "cd");
  run(1);
  EXPECT_EQ(received_data(kSlot), (Lines{std::string(1024, 'a'), "b", "cd"})) << "nothing for the empty frame";
  EXPECT_EQ(logged("/dev/mcc/ctl", "read").back(), "len=1024 -> EAGAIN") << "the slot read on until the device was empty";
}

TEST_F(MccSlotTest, AChannelThatHangsUpIsReadThenNoLongerPolledAndItsDescriptorKept) {
  std::set<int> const before = sockets();
  ASSERT_TRUE(command(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)));
  int channel = -1;  // the watch's descriptor: the stand-in delivers to it, not to its own end
  for (int fd : sockets())
    if (!before.count(fd) && test::switch_board().deliver(fd, "ab", 2)) channel = fd;
  ASSERT_GE(channel, 0);
  ::shutdown(channel, SHUT_RDWR);
  unsigned passes = 0;
  poll.before_poll = [&] {
    if (++passes > 1000) multiplexer.terminate();  // spinning: the run ends, the check fails
  };
  run(3000);
  EXPECT_LT(passes, 100u);
  EXPECT_EQ(received_data(kSlot), Lines{"ab"}) << "what came before the hang-up";
  EXPECT_NE(streams.err().find("mcc: 05:MCC: channel hung up: no more frames\n"), std::string::npos) << streams.err();
  EXPECT_GE(::fcntl(channel, F_GETFD), 0) << "user data is written through it";
}

TEST_F(MccSlotTest, UserDataIsOneWriteAndAFailedWriteIsOnlyLogged) {
  ASSERT_TRUE(command(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)));
  ASSERT_TRUE(command(lgcp_test::user_data(++seq, kSlot, "hello")));
  EXPECT_EQ(logged("/dev/mcc/ctl", "write"), Lines{"data=\"hello\""});
  test::switch_board().fail(Board::kMccControl, "write", EIO, Repeat::once);
  EXPECT_TRUE(command(lgcp_test::user_data(++seq, kSlot, "again")));
  EXPECT_NE(streams.err().find("mcc: 05:MCC: user data of 5 bytes not written: Input/output error\n"),
            std::string::npos)
      << streams.err();
  EXPECT_TRUE(command(lgcp_test::user_data(++seq, kSlot, std::string(513, 'x')))) << "too long for the channel";
  EXPECT_NE(streams.err().find("user data of 513 bytes not written: Message too long\n"), std::string::npos);
}

TEST_F(MccSlotTest, FailuresEndTheCreateAndTheQueryFallsBackToZero) {
  test::switch_board().fail(Board::kMccControl, "open", ENODEV, Repeat::once);
  EXPECT_EQ(answer(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)),
            LGCP::ErrorCause::insufficientResources);
  EXPECT_NE(streams.err().find("mcc: fail to open MCC device: No such device\n"), std::string::npos);
  test::switch_board().fail(Board::kMccControl, "ioctl MCC_ALLOCATE", ENOSPC, Repeat::once);
  EXPECT_EQ(answer(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)),
            LGCP::ErrorCause::insufficientResources);
  EXPECT_NE(streams.err().find("mcc: MCC_ALLOCATE fail: No space left on device\n"), std::string::npos);
  EXPECT_EQ(logged("/dev/mcc/ctl", "close").size(), 1u) << "the allocated open was closed";

  test::switch_board().fail(Board::kMccControl, "open", ENOENT, Repeat::once);
  streams.clear();
  EXPECT_EQ(resources(), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(streams.err(), "") << "a failed query says nothing";
  EXPECT_EQ(logged("/dev/mcc/ctl", "open").back(), "flags=O_RDONLY -> ENOENT");

  // Once with descriptors free: the sanitizers' type checks on the way need some.
  ASSERT_TRUE(command(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard)));
  ASSERT_TRUE(command(lgcp_test::command(++seq, kSlot, [](LGCP::Command& c) { c.select_destroy(); })));
  EXPECT_EQ(logged("/dev/mcc/ctl", "close").size(), 2u) << "the stand-in let its end go";
  int cause = 0;
  {
    test::DescriptorsTaken const two(2);  // the open's two ends, and no duplicate for the watch
    cause = answer(create_mcc(++seq, kSlot, LGCP::MccType::data, LGCP::MccMode::standard));
  }
  EXPECT_EQ(cause, LGCP::ErrorCause::insufficientResources);
  EXPECT_NE(streams.err().find("mcc: channel not watched: slot not created\n"), std::string::npos) << streams.err();
}

}  // namespace
