// The voice driver's stand-in: codec capacity by mask and the version record.

#include "boardsim/voice.h"

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

class VoiceModelTest : public BoardTest {
protected:
  BoardSim::Voice& voice = sim.add<BoardSim::Voice>();
  Fd fd{Board::io().open(Board::kVoice, O_RDONLY)};

  int capacity(std::uint32_t mask) {
    Board::VoiceCodecMask record{mask};
    return Board::io().ioctl(fd.lowlevel_fd(), Board::VOICE_CODEC_CAPACITY, &record);
  }
  std::string last() {
    std::ostringstream text;
    text << sim.requests(Board::kVoice).back();
    return text.str().substr(text.str().find(' ') + 1);
  }
  Lines run(std::string_view line) { return BoardSim::control_command(sim, line); }
};

TEST_F(VoiceModelTest, AnswersTheCapacityOfEachCodecFamily) {
  ASSERT_TRUE(fd);
  EXPECT_EQ(capacity(4), 12);
  EXPECT_EQ(last(), "/dev/voice ioctl capacity mask=4 result=12");
  EXPECT_EQ(capacity(65), 24);
  EXPECT_EQ(capacity(8), 0);
  EXPECT_EQ(last(), "/dev/voice ioctl capacity mask=8 result=0");
  DiagCapture refusals;
  EXPECT_EQ(capacity(3), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), Board::VOICE_CODEC_CAPACITY, 4), -1);
  EXPECT_EQ(errno, EFAULT);

  EXPECT_EQ(run("set voice 1 7"), (Lines{"ok"}));
  EXPECT_EQ(capacity(1), 7);
  EXPECT_EQ(run("set voice 3 7"), (Lines{"error usage: set voice <mask 1|2|4|8|65> <count>"}));
  EXPECT_EQ(run("state voice"), (Lines{"capacity 4=12 2=10 1=7 8=0 65=24", "version 0,0,0,0,0", "ok"}));
}

TEST_F(VoiceModelTest, FillsTheVersionRecord) {
  EXPECT_EQ(run("set voice version 1 2 3 4 0xffffffff"), (Lines{"ok"}));
  Board::VoiceVersion version{};
  ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), Board::VOICE_VERSION, &version), 0);
  EXPECT_EQ(version.words[4], 0xffffffffu);
  EXPECT_EQ(last(), "/dev/voice ioctl version words=1,2,3,4,4294967295");
  EXPECT_EQ(run("set voice version 1 2"), (Lines{"error usage: set voice version <w0> <w1> <w2> <w3> <w4>"}));
}

}  // namespace
}  // namespace test
