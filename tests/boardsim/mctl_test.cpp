#include "boardsim/mctl.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include "boardsim/control.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"

namespace test {
namespace {

using BoardSim::Mctl;

class MctlTest : public BoardTest {
protected:
  Mctl& mctl = sim.add<Mctl>();

  static Fd open() { return Fd(Board::io().open(Board::kModemControl, O_RDONLY)); }
  // The result, or -errno.
  static int value(Fd const& fd, unsigned long code, unsigned long v = 0) {
    int const got = Board::io().ioctl_value(fd.lowlevel_fd(), code, v);
    return got < 0 ? -errno : got;
  }
  template <class Record>
  static int record(Fd const& fd, unsigned long code, Record r) {
    return Board::io().ioctl(fd.lowlevel_fd(), code, &r) < 0 ? -errno : 0;
  }
  std::vector<std::string> state() { return BoardSim::control_command(sim, "state mctl"); }
  std::vector<std::string> logged(std::string_view name) {
    std::vector<std::string> lines;
    for (auto const& entry : sim.requests(Board::kModemControl, name)) {
      std::ostringstream text;
      text << entry;
      lines.push_back(text.str().substr(text.str().find(' ') + 1));
    }
    return lines;
  }
};

TEST_F(MctlTest, EachOpenHoldsTheLowestFreeModemUntilItsLastDescriptorCloses) {
  Fd a = open(), b = open();
  ASSERT_TRUE(a && b);
  EXPECT_EQ(value(a, Board::MCTL_GET_TIMESLOT), -EINVAL) << "no modem yet";
  EXPECT_EQ(value(a, Board::MCTL_ALLOCATE), 0);
  EXPECT_EQ(value(a, Board::MCTL_ALLOCATE), -EINVAL) << "one modem an open";
  EXPECT_EQ(value(b, Board::MCTL_ALLOCATE, 1), -EINVAL) << "the value must be 0";
  EXPECT_EQ(value(b, Board::MCTL_ALLOCATE), 1);
  EXPECT_EQ(value(b, Board::MCTL_GET_TIMESLOT), 4097);
  EXPECT_EQ(logged("ioctl allocate").front(), "/dev/mctl ioctl allocate value=0x0 result=0");

  Fd copy = a;  // a dup keeps the open's modem
  a.close();
  Fd c = open();
  EXPECT_EQ(value(c, Board::MCTL_ALLOCATE), 2);
  Fd d = open();
  EXPECT_EQ(value(d, Board::MCTL_ALLOCATE), 3);
  Fd e = open();
  EXPECT_EQ(value(e, Board::MCTL_ALLOCATE), -EBUSY);
  copy.close();
  Fd f = open();  // an open hears of the closes before it
  EXPECT_EQ(value(f, Board::MCTL_ALLOCATE), 0) << "freed with its last descriptor";
  EXPECT_EQ(value(f, Board::MCTL_GET_TIMESLOT), 4096);
}

TEST_F(MctlTest, RecordsActOnlyOnTheOpensOwnModem) {
  Fd a = open(), b = open();
  ASSERT_EQ(value(a, Board::MCTL_ALLOCATE), 0);
  ASSERT_EQ(value(b, Board::MCTL_ALLOCATE), 1);
  EXPECT_EQ(record(a, Board::MCTL_SET_DDM, Board::ModemMode{0, 5}), 0);
  EXPECT_EQ(record(a, Board::MCTL_SET_DDM, Board::ModemMode{0, 8}), -EINVAL) << "mask 0..7";
  EXPECT_EQ(record(a, Board::MCTL_SET_DDM, Board::ModemMode{1, 1}), -EINVAL) << "not its modem";
  EXPECT_EQ(record(a, Board::MCTL_SET_DMP, Board::ModemParameter{0, 1, 10}), 0);
  EXPECT_EQ(record(a, Board::MCTL_SET_DMP, Board::ModemParameter{0, -5, 7}), -EINVAL) << "offset 0 or more";
  EXPECT_EQ(record(a, Board::MCTL_SET_DMP, Board::ModemParameter{0, 3, -30}), 0);
  EXPECT_EQ(record(a, Board::MCTL_ANSWER, Board::ModemCommand{0, 0}), -EINVAL) << "arg is -1";
  EXPECT_EQ(record(b, Board::MCTL_RESET_DMP, Board::ModemCommand{1, -1}), 0);
  EXPECT_EQ(record(b, Board::MCTL_ORIGINATE_FAX, Board::ModemCommand{1, -1}), 0);
  EXPECT_EQ(record(a, Board::MCTL_ANSWER, Board::ModemCommand{0, -1}), 0);
  EXPECT_EQ(state(), (std::vector<std::string>{"modem=0 ts=4096 held mask=5 dmp=1:10,3:-30 start=answer",
                                               "modem=1 ts=4097 held mask=0 dmp=- start=originate-fax",
                                               "modem=2 ts=4098 free mask=0 dmp=- start=-",
                                               "modem=3 ts=4099 free mask=0 dmp=- start=-", "ok"}));
  EXPECT_EQ(logged("ioctl set-dmp"), (std::vector<std::string>{"/dev/mctl ioctl set-dmp modem=0 offset=1 value=10",
                                                               "/dev/mctl ioctl set-dmp modem=0 offset=-5 value=7 -> EINVAL",
                                                               "/dev/mctl ioctl set-dmp modem=0 offset=3 value=-30"}));
  EXPECT_EQ(logged("ioctl answer").back(), "/dev/mctl ioctl answer modem=0 arg=-1");
  // A release keeps what the modem was told; the next allocation starts afresh.
  a.close();
  EXPECT_EQ(state()[0], "modem=0 ts=4096 free mask=5 dmp=1:10,3:-30 start=answer");
  Fd c = open();
  ASSERT_EQ(value(c, Board::MCTL_ALLOCATE), 0);
  EXPECT_EQ(state()[0], "modem=0 ts=4096 held mask=0 dmp=- start=-");
}

TEST_F(MctlTest, WrongFormsAndUnknownCodes) {
  Fd a = open();
  ASSERT_EQ(value(a, Board::MCTL_ALLOCATE), 0);
  int word = 0;
  EXPECT_EQ(Board::io().ioctl(a.lowlevel_fd(), Board::MCTL_ALLOCATE, &word), -1);
  EXPECT_EQ(errno, EINVAL) << "a value request with a record";
  EXPECT_EQ(value(a, Board::MCTL_ANSWER), -EFAULT) << "a record request by value";
  EXPECT_EQ(Board::io().ioctl(a.lowlevel_fd(), Board::MCTL_ANSWER, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(value(a, 0xbb99), -ENOTTY);
}

TEST_F(MctlTest, EnumerationWalksEveryNumberHeldOrFree) {
  Fd a = open();
  ASSERT_EQ(value(a, Board::MCTL_ALLOCATE), 0);
  std::vector<int> numbers;
  for (int n = -1; (n = value(a, Board::MCTL_NEXT_MODEM, static_cast<unsigned>(n))) >= 0;) numbers.push_back(n);
  EXPECT_EQ(numbers, (std::vector<int>{0, 1, 2, 3}));
  EXPECT_EQ(value(a, Board::MCTL_NEXT_MODEM, 3), -ENODEV);
  // A value wider than 32 bits exists only where unsigned long is (not on the board).
  EXPECT_EQ(value(a, Board::MCTL_NEXT_MODEM, static_cast<unsigned long>(0xffffffff00000002ull)), 3)
      << "the low 32 bits count";

  EXPECT_EQ(BoardSim::control_command(sim, "set mctl modems 2 100").back(), "error a modem is held");
  a.close();
  EXPECT_EQ(BoardSim::control_command(sim, "set mctl modems 300").back().rfind("error usage", 0), 0u);
  EXPECT_EQ(BoardSim::control_command(sim, "set mctl modems 2 100").back(), "ok");
  EXPECT_EQ(state(), (std::vector<std::string>{"modem=0 ts=100 free mask=0 dmp=- start=-",
                                               "modem=1 ts=101 free mask=0 dmp=- start=-", "ok"}));
  EXPECT_TRUE(mctl.set_modems(0));
  Fd b = open();
  EXPECT_EQ(value(b, Board::MCTL_ALLOCATE), -EBUSY);
  EXPECT_EQ(value(b, Board::MCTL_NEXT_MODEM, static_cast<unsigned>(-1)), -ENODEV);
}

}  // namespace
}  // namespace test
