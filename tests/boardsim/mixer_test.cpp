// The mixer's stand-in: the unit list the scan walks, the timeslots, the sums it keeps,
// what it refuses, and how it logs requests.

#include "boardsim/mixer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sstream>

#include "boardsim/control.h"
#include "foundation/board_requests.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using Lines = std::vector<std::string>;

class MixerModelTest : public BoardTest {
protected:
  MixerModelTest() {
    run("set mixer unit 3 32 2 512");
    run("set mixer unit 7 16 4 640");
  }

  Lines run(std::string_view line) { return BoardSim::control_command(sim, line); }
  // The request's result, or minus its errno.
  template <class Record>
  int request(unsigned long code, Record& record) {
    int const result = Board::io().ioctl(fd.lowlevel_fd(), code, &record);
    return result < 0 ? -errno : result;
  }
  int link(unsigned long code, Board::mix_slot rx, Board::mix_slot tx, int gain) {
    Board::mix_rx_param record{rx, tx, gain};
    return request(code, record);
  }
  std::string last() {
    std::ostringstream text;
    text << sim.requests(Board::kMixer).back();
    return text.str().substr(text.str().find(' ') + 1);
  }

  BoardSim::Mixer& mixer = sim.add<BoardSim::Mixer>();
  Fd fd{Board::io().open(Board::kMixer, O_RDONLY)};
};

TEST_F(MixerModelTest, ListsItsUnitsInOrderAndNamesTheirTimeslots) {
  ASSERT_TRUE(fd);
  Board::mix_unit_info info{-1, 0, 0, 0};
  ASSERT_EQ(request(Board::MIX_UNIT_INFO, info), 0);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_UNIT_INFO dev_no=-1 got=3 tdm_channels=32 mixer_inputs=2");
  ASSERT_EQ(request(Board::MIX_UNIT_INFO, info), 0);
  EXPECT_EQ(info.dev_no, 7);
  EXPECT_EQ(info.tdm_channels, 16);
  EXPECT_EQ(info.mixer_inputs, 4);
  EXPECT_EQ(request(Board::MIX_UNIT_INFO, info), -ENODEV);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_UNIT_INFO dev_no=7 -> ENODEV");

  EXPECT_EQ(run("set mixer repeat on"), (Lines{"ok"}));
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(request(Board::MIX_UNIT_INFO, info), 0);
    EXPECT_EQ(info.dev_no, 3) << "the lowest unit, again and again";
  }
  run("set mixer repeat off");

  Board::mix_slot slot{7, 0, 15};
  EXPECT_EQ(request(Board::MIX_TDM, slot), 655);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_TDM dev_no=7 type=0 number=15 result=655");
  DiagCapture refusals;
  for (Board::mix_slot bad : {Board::mix_slot{7, 0, 16}, {7, 1, 0}, {5, 0, 0}, {7, 0, -1}})
    EXPECT_EQ(request(Board::MIX_TDM, bad), -EINVAL) << bad.dev_no << '/' << bad.type << '/' << bad.number;
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), Board::MIX_TDM, 0), -1);
  EXPECT_EQ(errno, EFAULT);

  EXPECT_EQ(run("set mixer remove 3"), (Lines{"ok"}));
  info = {-1, 0, 0, 0};
  ASSERT_EQ(request(Board::MIX_UNIT_INFO, info), 0);
  EXPECT_EQ(info.dev_no, 7);
  EXPECT_EQ(run("set mixer remove 3"), (Lines{"error no mixer unit 3"}));
  EXPECT_EQ(run("set mixer unit 1 2 1 2147483647"), (Lines{"error the unit's last timeslot is past 2147483647"}));
}

TEST_F(MixerModelTest, KeepsEachSumInTheOrderItsLinksCame) {
  EXPECT_EQ(link(Board::MIX_RX_ADD, {3, 0, 4}, {3, 0, 1}, 100), 0);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_RX_ADD rx=3/0/4 tx=3/0/1 gain=100");
  EXPECT_EQ(link(Board::MIX_RX_ADD, {3, 0, 4}, {3, 0, 2}, -5), 0);
  EXPECT_EQ(run("state mixer 3 4"), (Lines{"sum 3/4: 1@100 2@-5", "ok"}));
  EXPECT_EQ(link(Board::MIX_RX_ADD, {3, 0, 4}, {3, 0, 1}, 7), 0) << "a link there takes the new gain";
  EXPECT_EQ(run("state mixer 3 4"), (Lines{"sum 3/4: 1@7 2@-5", "ok"}));

  DiagCapture refusals;
  EXPECT_EQ(link(Board::MIX_RX_ADD, {3, 0, 4}, {3, 0, 3}, 1), -ENOSPC) << "two inputs make unit 3's sums full";
  EXPECT_EQ(link(Board::MIX_RX_ADD, {3, 0, 4}, {7, 0, 3}, 1), -EINVAL) << "two units";
  EXPECT_EQ(link(Board::MIX_RX_REMOVE, {3, 0, 4}, {3, 0, 3}, 0), -ENOENT);
  EXPECT_EQ(link(Board::MIX_RX_REMOVE, {3, 0, 4}, {3, 0, 1}, 0), 0);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_RX_REMOVE rx=3/0/4 tx=3/0/1 gain=0");
  EXPECT_EQ(run("state mixer 3 4"), (Lines{"sum 3/4: 2@-5", "ok"}));

  Board::mix_slot clear{3, 0, 4};
  EXPECT_EQ(request(Board::MIX_RX_CLEAR, clear), 0);
  EXPECT_EQ(last(), "/dev/mixer ioctl MIX_RX_CLEAR dev_no=3 type=0 number=4");
  EXPECT_EQ(run("state mixer 3 4"), (Lines{"sum 3/4:", "ok"}));
  EXPECT_EQ(run("state mixer 3 32"), (Lines{"error no channel 32 on mixer unit 3"}));

  link(Board::MIX_RX_ADD, {7, 0, 0}, {7, 0, 0}, 32767);
  run("set mixer unit 7 16 4 640");
  EXPECT_EQ(run("state mixer 7 0"), (Lines{"sum 7/0:", "ok"})) << "a unit set again starts empty";
}

}  // namespace
}  // namespace test
