#include "boardsim/sim.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "foundation/clock.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"
#include "tests/support/own_process.h"

namespace test {
namespace {

using BoardSim::Request;

// A device that exercises the stand-in itself; its codes exist only in this test.
constexpr char kDevice[] = "/dev/boardsim-test";
constexpr char kOther[] = "/dev/boardsim-other";
constexpr unsigned long kSetLevel = 0x7e01;  // pointer to Level
constexpr unsigned long kCount = 0x7e02;     // by value; answers with an event
constexpr unsigned long kDouble = 0x7e03;   // by value; answers twice the value
constexpr unsigned long kSwap = 0xC0027e04;  // pointer to Level, its size in the code: swaps the two
constexpr unsigned long kBlock = 0xC0507e05; // pointer to 80 bytes: the last becomes the first + 1
constexpr unsigned long kUnknown = 0x7eff;

struct [[gnu::packed]] Level {
  std::uint8_t channel;
  std::uint8_t level;  // 0..15
};
static_assert(sizeof(Level) == 2);

class TestDevice : public BoardSim::Model {
public:
  explicit TestDevice(char const* path = kDevice) : Model(path) {}

protected:
  // Sums the kCount values per open, so tests see which open a descriptor reaches.
  struct CountingOpen : Open {
    std::uint32_t count = 0;
  };

  std::unique_ptr<Open> make_open() override { return std::make_unique<CountingOpen>(); }

  char const* request_name(unsigned long request) const override {
    switch (request) {
      case kSetLevel: return "SET_LEVEL";
      case kCount: return "COUNT";
      case kDouble: return "DOUBLE";
      case kSwap: return "SWAP";
      case kBlock: return "BLOCK";
      default: return nullptr;
    }
  }

  std::string decode(unsigned long request, void const* arg) const override {
    auto const* bytes = static_cast<std::uint8_t const*>(arg);
    if (request == kBlock) return "first=" + std::to_string(bytes[0]);
    return "channel=" + std::to_string(bytes[0]) + " level=" + std::to_string(bytes[1]);
  }

  std::string decode_reply(unsigned long request, void const* arg) const override {
    auto const* bytes = static_cast<std::uint8_t const*>(arg);
    if (request == kBlock) return "last=" + std::to_string(bytes[79]);
    if (request == kSwap) return "swapped=" + std::to_string(bytes[0]) + "/" + std::to_string(bytes[1]);
    return {};
  }

  int ioctl(Open&, unsigned long request, void* arg) override {
    auto* bytes = static_cast<std::uint8_t*>(arg);
    if (request == kSwap) {
      std::swap(bytes[0], bytes[1]);
      return 0;
    }
    if (request == kBlock) {
      bytes[79] = static_cast<std::uint8_t>(bytes[0] + 1);
      return 0;
    }
    if (request != kSetLevel) return EINVAL;
    return static_cast<Level const*>(arg)->level > 15 ? EINVAL : 0;
  }

  int ioctl_value(Open& open, unsigned long request, unsigned long value) override {
    if (request == kDouble) {
      // 0 answers nothing; 3 is refused after the result was set.
      if (value != 0) set_result(static_cast<long>(value) * 2);
      return value == 3 ? EINVAL : 0;
    }
    if (request != kCount) return EINVAL;
    auto& counting = static_cast<CountingOpen&>(open);
    counting.count += static_cast<std::uint32_t>(value);
    open.deliver(&counting.count, sizeof counting.count);
    return 0;
  }

  int write(Open&, std::string_view data) override { return data.size() == sizeof(Level) ? 0 : EINVAL; }
};

class SimTest : public BoardTest {
protected:
  SimTest() { sim.add<TestDevice>(); }

  static int open_device(int flags = O_RDWR | O_NONBLOCK) { return Board::io().open(kDevice, flags); }
  static unsigned now() { return Mux::milliseconds(); }

  // The event the test device answers kCount with.
  static std::uint32_t count_event(int fd) {
    std::uint32_t count = 0;
    EXPECT_EQ(Board::io().read(fd, &count, sizeof count), ssize_t(sizeof count));
    return count;
  }
};

ino_t inode(int fd) {
  struct stat st {};
  EXPECT_EQ(::fstat(fd, &st), 0);
  return st.st_ino;
}

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLIN);
}

// --- A modelled open behaves like a character device ------------------------------------

TEST_F(SimTest, OpenHandsOutCloseOnExecSeqpacketEndWithTheAskedBlocking) {
  for (int const flags : {O_RDWR, O_RDWR | O_NONBLOCK}) {
    Fd fd(open_device(flags));
    ASSERT_TRUE(fd.is_valid()) << Errno();
    int type = 0;
    socklen_t size = sizeof type;
    ASSERT_EQ(::getsockopt(fd.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &size), 0);
    EXPECT_EQ(type, SOCK_SEQPACKET);
    EXPECT_EQ(::fcntl(fd.lowlevel_fd(), F_GETFL) & O_NONBLOCK, flags & O_NONBLOCK);
  }
  // Checked on a bare descriptor: Fd would set close-on-exec itself.
  int const fd = open_device();
  ASSERT_GE(fd, 0);
  EXPECT_TRUE(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
  ::close(fd);
}

TEST_F(SimTest, DupsShareTheOpenAndItsInode) {
  Fd first(open_device());
  Fd second(open_device());
  Fd dup(first);
  ASSERT_TRUE(first && second && dup);
  EXPECT_EQ(inode(dup.lowlevel_fd()), inode(first.lowlevel_fd()));
  EXPECT_NE(inode(second.lowlevel_fd()), inode(first.lowlevel_fd()));

  ASSERT_EQ(Board::io().ioctl_value(first.lowlevel_fd(), kCount, 1), 0);
  ASSERT_EQ(Board::io().ioctl_value(dup.lowlevel_fd(), kCount, 1), 0);
  ASSERT_EQ(Board::io().ioctl_value(second.lowlevel_fd(), kCount, 1), 0);
  EXPECT_EQ(count_event(first.lowlevel_fd()), 1u);
  EXPECT_EQ(count_event(dup.lowlevel_fd()), 2u);  // same open, same count, same queue
  EXPECT_EQ(count_event(second.lowlevel_fd()), 1u);
}

TEST_F(SimTest, NonBlockingReadWithoutAnEventIsEagain) {
  Fd fd(open_device());
  char buf[16];
  EXPECT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(sim.requests(kDevice, "read"),
            (std::vector<Request>{{kDevice, "read", "len=16", EAGAIN, now()}}));
}

TEST_F(SimTest, EachEventIsReadWholeAndWakesPoll) {
  Fd fd(open_device());
  EXPECT_FALSE(readable(fd.lowlevel_fd()));

  std::string const small = "abcd";
  std::string const large(300, 'x');
  ASSERT_TRUE(sim.deliver(fd.lowlevel_fd(), small.data(), small.size()));
  ASSERT_TRUE(sim.deliver(fd.lowlevel_fd(), large.data(), large.size()));
  EXPECT_TRUE(readable(fd.lowlevel_fd()));

  char buf[512];
  ASSERT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), ssize_t(small.size()));
  EXPECT_EQ(std::string(buf, small.size()), small);
  ASSERT_EQ(Board::io().read(fd.lowlevel_fd(), buf, sizeof buf), ssize_t(large.size()));
  EXPECT_EQ(std::string(buf, large.size()), large);
  EXPECT_FALSE(readable(fd.lowlevel_fd()));
}

TEST_F(SimTest, BlockingReadLeavesTheStandInFreeToDeliver) {
  Fd fd(open_device(O_RDWR));
  ssize_t got = 0;
  std::uint32_t event = 0;
  std::thread reader([&] { got = Board::io().read(fd.lowlevel_fd(), &event, sizeof event); });
  // Give the reader time to block; a stand-in that kept its lock would hang here.
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  std::uint32_t const sent = 0x01020304;
  EXPECT_TRUE(sim.deliver(fd.lowlevel_fd(), &sent, sizeof sent));
  reader.join();
  EXPECT_EQ(got, ssize_t(sizeof sent));
  EXPECT_EQ(event, sent);
}

TEST_F(SimTest, DeliverRefusesDescriptorsItDidNotHandOut) {
  int ends[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
  Fd const a(ends[0]), b(ends[1]);
  char const event = 1;
  EXPECT_FALSE(sim.deliver(a.lowlevel_fd(), &event, 1));
  EXPECT_FALSE(sim.deliver(-1, &event, 1));
}

// --- Close detection ------------------------------------------------------------------

TEST_F(SimTest, CloseIsRecordedOnceEveryDescriptorOfTheOpenIsGone) {
  int const fd = open_device();
  int const dup = ::dup(fd);
  ASSERT_GE(dup, 0);
  ::close(fd);
  EXPECT_TRUE(sim.requests(kDevice, "close").empty());
  // The open is still there through the dup.
  ASSERT_EQ(Board::io().ioctl_value(dup, kCount, 5), 0);
  EXPECT_EQ(count_event(dup), 5u);

  clock.advance_ms(250);
  ::close(dup);
  EXPECT_EQ(sim.requests(kDevice, "close"), (std::vector<Request>{{kDevice, "close", "", 0, now()}}));
  EXPECT_EQ(sim.requests(kDevice, "close").size(), 1u);  // recorded once, not at every query
}

TEST_F(SimTest, AnOpenIsRetiredOnceWhileAForkedChildHoldsTheStandInsEnd) {
  ::close(open_device());
  // Forked before the stand-in heard of the close: it holds a copy of the stand-in's end.
  pid_t const child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    ::pause();
    ::_exit(0);
  }
  sim.retire_closed();
  sim.retire_closed();
  EXPECT_EQ(sim.requests(kDevice, "close").size(), 1u);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
}

TEST_F(SimTest, OpensAreNumberedAboveTheDaemonsOwnDescriptors) {
  Fd fd(open_device());
  EXPECT_GE(fd.lowlevel_fd(), BoardSim::Sim::kFirstNumber);
  Fd dup(fd);
  EXPECT_LT(dup.lowlevel_fd(), BoardSim::Sim::kFirstNumber) << "a dup takes the lowest free number";
  EXPECT_EQ(Board::io().ioctl_value(dup.lowlevel_fd(), kCount, 2), 0) << "and reaches the open all the same";
  EXPECT_EQ(count_event(fd.lowlevel_fd()), 2u);
}

// The stand-in hears of no close that leaves a dup behind; the closed number must still
// be refused as the system refuses it.
TEST_F(SimTest, ARequestOnAClosedDescriptorIsTheSystemsToRefuse) {
  int const fd = open_device();
  int const dup = ::dup(fd);
  ::close(fd);
  EXPECT_EQ(Board::io().ioctl_value(fd, kCount, 1), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(Board::io().write(fd, "\x01\x02", 2), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(Board::io().ioctl_value(dup, kCount, 1), 0);
  ::close(dup);
  EXPECT_EQ(Board::io().ioctl_value(dup, kCount, 1), -1);
  EXPECT_EQ(errno, EBADF);
  std::vector<std::string> names;
  for (Request const& r : sim.requests()) names.push_back(r.name);
  EXPECT_EQ(names, (std::vector<std::string>{"open", "ioctl COUNT", "close"}));
}

// Short of descriptors above the daemon's own, an open keeps the number the system gave
// it and is known by its inode like a dup.
TEST(SimFewDescriptors, OpensKeepTheSystemsNumberAndAreKnownByTheirInode) {
  std::string const failed = in_own_process([] {
    Failures f;
    rlimit const few{256, 256};
    f.check(::setrlimit(RLIMIT_NOFILE, &few) == 0, "setrlimit");
    FakeClock clock;
    BoardSim::Sim sim;
    sim.add<TestDevice>();
    int const fd = sim.open(kDevice, O_RDWR | O_NONBLOCK);
    f.check(fd >= 0 && fd < 256, "the open's own number: " + std::to_string(fd));
    f.equal(sim.ioctl_value(fd, kCount, 3), 0, "a request on it");
    int const dup = ::dup(fd);
    f.equal(sim.ioctl_value(dup, kCount, 1), 0, "a request on its dup");
    ::close(fd);
    ::close(dup);
    f.equal(sim.requests(kDevice, "close").size(), std::size_t{1}, "its close");
    f.equal(sim.ioctl_value(fd, kCount, 1), -1, "a request after the close");
    return f.result();
  });
  EXPECT_EQ(failed, "");
}

// --- Paths and descriptors it does not model ------------------------------------------

TEST_F(SimTest, UnmodelledPathsAndDescriptorsGoToTheSystem) {
  char path[] = "/tmp/boardsim-XXXXXX";
  int const made = ::mkstemp(path);
  ASSERT_GE(made, 0);
  ::close(made);

  Fd file(Board::io().open(path, O_RDWR));
  ASSERT_TRUE(file) << Errno();
  EXPECT_EQ(Board::io().write(file.lowlevel_fd(), "hello", 5), 5);
  ASSERT_EQ(::lseek(file.lowlevel_fd(), 0, SEEK_SET), 0);
  char buf[8] = {};
  EXPECT_EQ(Board::io().read(file.lowlevel_fd(), buf, sizeof buf), 5);
  EXPECT_STREQ(buf, "hello");
  ::unlink(path);

  EXPECT_EQ(Board::io().open("/tmp/boardsim-absent/x", O_RDONLY), -1);
  EXPECT_EQ(errno, ENOENT);

  int pipe_ends[2];
  ASSERT_EQ(::pipe(pipe_ends), 0);
  Fd const in(pipe_ends[0]), out(pipe_ends[1]);
  ASSERT_EQ(Board::io().write(out.lowlevel_fd(), "abc", 3), 3);
  int queued = 0;
  EXPECT_EQ(Board::io().ioctl(in.lowlevel_fd(), FIONREAD, &queued), 0);
  EXPECT_EQ(queued, 3);
  EXPECT_EQ(Board::io().ioctl_value(in.lowlevel_fd(), FIONBIO, 0), -1);  // by value is EFAULT for FIONBIO
  EXPECT_EQ(errno, EFAULT);

  EXPECT_TRUE(sim.requests().empty());
}

// --- Strict validation ----------------------------------------------------------------

TEST_F(SimTest, UnknownRequestIsEnottyLoggedAndPrinted) {
  Fd fd(open_device());
  DiagCapture cerr;
  Level record{1, 2};
  EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kUnknown, &record), -1);
  EXPECT_EQ(errno, ENOTTY);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kUnknown, 3), -1);
  EXPECT_EQ(errno, ENOTTY);

  EXPECT_EQ(sim.requests(kDevice, "ioctl 0x7eff"),
            (std::vector<Request>{{kDevice, "ioctl 0x7eff", "", ENOTTY, now()},
                                  {kDevice, "ioctl 0x7eff", "value=0x3", ENOTTY, now()}}));
  EXPECT_EQ(cerr.text(), "boardsim: " + std::to_string(now()) +
                             " /dev/boardsim-test ioctl 0x7eff -> ENOTTY\n" +
                             "boardsim: " + std::to_string(now()) +
                             " /dev/boardsim-test ioctl 0x7eff value=0x3 -> ENOTTY\n");
}

TEST_F(SimTest, OutOfRangeFieldAndWrongRecordSizeAreEinval) {
  Fd fd(open_device());
  DiagCapture cerr;
  Level in_range{1, 15}, out_of_range{1, 16};
  EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kSetLevel, &in_range), 0);
  EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kSetLevel, &out_of_range), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), "\x01\x02", 2), 2);
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), "\x01\x02\x03", 3), -1);
  EXPECT_EQ(errno, EINVAL);

  EXPECT_EQ(sim.requests(kDevice, "ioctl SET_LEVEL"),
            (std::vector<Request>{{kDevice, "ioctl SET_LEVEL", "channel=1 level=15", 0, now()},
                                  {kDevice, "ioctl SET_LEVEL", "channel=1 level=16", EINVAL, now()}}));
  EXPECT_EQ(sim.requests(kDevice, "write").back(),
            (Request{kDevice, "write", R"(data="\x01\x02\x03")", EINVAL, now()}));
  EXPECT_NE(cerr.text().find("SET_LEVEL channel=1 level=16 -> EINVAL\n"), std::string::npos) << cerr.text();
  EXPECT_NE(cerr.text().find(R"(write data="\x01\x02\x03" -> EINVAL)"), std::string::npos) << cerr.text();
}

TEST_F(SimTest, RecordRequestWithoutRecordIsEfault) {
  Fd fd(open_device());
  DiagCapture cerr;
  EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kSetLevel, nullptr), -1);
  EXPECT_EQ(errno, EFAULT);
  EXPECT_EQ(sim.requests(kDevice, "ioctl SET_LEVEL"),
            (std::vector<Request>{{kDevice, "ioctl SET_LEVEL", "", EFAULT, now()}}));
}

TEST_F(SimTest, AccessModeIsCheckedBeforeTheDevice) {
  Fd read_only(open_device(O_RDONLY | O_NONBLOCK));
  Fd write_only(open_device(O_WRONLY | O_NONBLOCK));
  DiagCapture cerr;
  EXPECT_EQ(Board::io().write(read_only.lowlevel_fd(), "\x01\x02", 2), -1);
  EXPECT_EQ(errno, EBADF);
  char buf[4];
  EXPECT_EQ(Board::io().read(write_only.lowlevel_fd(), buf, sizeof buf), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_EQ(sim.requests({}, "write").back().error, EBADF);
  EXPECT_EQ(sim.requests({}, "read").back().error, EBADF);
}

// --- The request log ------------------------------------------------------------------

TEST_F(SimTest, LogsEveryRequestDecodedWithItsTime) {
  clock.set_ms((std::uint64_t{1} << 32) - 15);
  unsigned const t0 = now();
  int const fd = open_device(O_RDWR | O_NONBLOCK);
  clock.advance_ms(10);
  Level record{3, 7};
  Board::io().ioctl(fd, kSetLevel, &record);
  clock.advance_ms(10);  // crosses the 32-bit wrap of the millisecond clock
  Board::io().ioctl_value(fd, kCount, 0x20);
  Board::io().write(fd, "\x05\x06", 2);
  char buf[8];
  Board::io().read(fd, buf, sizeof buf);
  std::string const long_write(100, 'v');
  Board::io().write(fd, long_write.data(), long_write.size());
  ::close(fd);
  clock.advance_ms(10);

  EXPECT_EQ(sim.requests(),
            (std::vector<Request>{
                {kDevice, "open", "flags=O_RDWR|O_NONBLOCK", 0, t0},
                {kDevice, "ioctl SET_LEVEL", "channel=3 level=7", 0, t0 + 10},
                {kDevice, "ioctl COUNT", "value=0x20", 0, t0 + 20},
                {kDevice, "write", R"(data="\x05\x06")", 0, t0 + 20},
                {kDevice, "read", "len=8 got=4", 0, t0 + 20},
                {kDevice, "write", "data=\"" + std::string(64, 'v') + "\"... len=100", EINVAL, t0 + 20},
                {kDevice, "close", "", 0, t0 + 30},
            }));
  EXPECT_LT(t0 + 20, t0);  // the clock did wrap

  sim.clear_requests();
  EXPECT_TRUE(sim.requests().empty());
}

TEST_F(SimTest, AHookSetsTheCallsResultAndTheLogShowsIt) {
  Fd fd(open_device());
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kDouble, 512), 1024);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kDouble, 0), 0);
  {
    DiagCapture refusals;
    EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kDouble, 3), -1);
    EXPECT_EQ(errno, EINVAL);
  }
  // A result belongs to its own request only: an injected fault keeps the hook out.
  sim.fail(kDevice, "ioctl DOUBLE", EIO, BoardSim::Repeat::once);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kDouble, 4), -1);
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kCount, 1), 0);

  EXPECT_EQ(sim.requests(kDevice, "ioctl DOUBLE"),
            (std::vector<Request>{{kDevice, "ioctl DOUBLE", "value=0x200 result=1024", 0, now()},
                                  {kDevice, "ioctl DOUBLE", "value=0x0", 0, now()},
                                  {kDevice, "ioctl DOUBLE", "value=0x3", EINVAL, now()},
                                  {kDevice, "ioctl DOUBLE", "value=0x4", EIO, now()}}));
  EXPECT_EQ(sim.requests(kDevice, "ioctl COUNT").back().fields, "value=0x1");
}

TEST_F(SimTest, AnEmptyWriteMayPassNoBuffer) {
  Fd fd(open_device());
  DiagCapture refusals;  // the test device takes two-byte records only
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), nullptr, 0), -1);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(sim.requests(kDevice, "write").back().fields, "data=\"\"");
}

TEST_F(SimTest, TheLogShowsARecordAsItWasPassedAndHandedBack) {
  Fd fd(open_device());
  Level record{3, 7};
  ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kSwap, &record), 0);
  EXPECT_EQ(record.channel, 7);
  record = {9, 9};  // the daemon reuses its record: the log keeps its own copy
  std::uint8_t block[80] = {5};
  ASSERT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kBlock, block), 0);  // longer than what is kept
  block[0] = 0;
  EXPECT_EQ(sim.requests(kDevice, "ioctl SWAP").back().fields, "channel=3 level=7 swapped=7/3");
  EXPECT_EQ(sim.requests(kDevice, "ioctl BLOCK").back().fields, "first=5 last=6");
  std::string const head(100, 'w');
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), head.data(), head.size()), -1);  // a wrong size
  EXPECT_EQ(sim.requests(kDevice, "write").back().fields, "data=\"" + std::string(64, 'w') + "\"... len=100");
}

TEST_F(SimTest, QueriesFilterByDeviceAndName) {
  sim.add<TestDevice>(kOther);
  Fd device(open_device());
  Fd other(Board::io().open(kOther, O_RDWR));
  Board::io().write(other.lowlevel_fd(), "\x03\x04", 2);
  Board::io().write(device.lowlevel_fd(), "\x01\x02", 2);

  EXPECT_EQ(sim.requests(kOther).size(), 2u);
  EXPECT_EQ(sim.requests({}, "write").size(), 2u);
  EXPECT_EQ(sim.requests({}, "open").size(), 2u);
  EXPECT_EQ(sim.requests(kDevice, "write"),
            (std::vector<Request>{{kDevice, "write", R"(data="\x01\x02")", 0, now()}}));
}

TEST(SimLog, KeepsTheMostRecentRequests) {
  FakeClock clock;
  BoardSim::Sim sim(3);
  sim.add<TestDevice>();
  Fd fd(sim.open(kDevice, O_RDWR));
  for (char c = 'a'; c <= 'd'; ++c) {
    char const record[2] = {c, c};
    sim.write(fd.lowlevel_fd(), record, sizeof record);
  }
  auto const kept = sim.requests();
  ASSERT_EQ(kept.size(), 3u);
  EXPECT_EQ(kept.front().fields, R"(data="bb")");
  EXPECT_EQ(kept.back().fields, R"(data="dd")");
  EXPECT_EQ(sim.dropped_requests(), 2u);
}

// --- Fault injection ------------------------------------------------------------------

TEST_F(SimTest, OpenFaultOnceFailsOnlyTheNextOpen) {
  sim.fail(kDevice, "open", EBUSY, BoardSim::Repeat::once);
  DiagCapture cerr;
  EXPECT_EQ(open_device(), -1);
  EXPECT_EQ(errno, EBUSY);
  Fd fd(open_device());
  EXPECT_TRUE(fd);
  EXPECT_EQ(sim.requests(kDevice, "open"),
            (std::vector<Request>{{kDevice, "open", "flags=O_RDWR|O_NONBLOCK", EBUSY, now()},
                                  {kDevice, "open", "flags=O_RDWR|O_NONBLOCK", 0, now()}}));
  EXPECT_EQ(cerr.text(), "");  // an injected failure is not a refusal
}

TEST_F(SimTest, OpenFaultAlwaysHoldsUntilCleared) {
  sim.fail(kDevice, "open", ENODEV, BoardSim::Repeat::always);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(open_device(), -1);
    EXPECT_EQ(errno, ENODEV);
  }
  sim.clear_faults();
  Fd fd(open_device());
  EXPECT_TRUE(fd);
}

TEST_F(SimTest, RequestFaultHitsOnlyItsDeviceAndRequest) {
  sim.add<TestDevice>(kOther);
  Fd fd(open_device());
  Fd other(Board::io().open(kOther, O_RDWR));
  sim.fail(kDevice, "ioctl SET_LEVEL", EIO, BoardSim::Repeat::always);
  sim.fail(kDevice, "write", EAGAIN, BoardSim::Repeat::once);

  Level record{1, 1};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(Board::io().ioctl(fd.lowlevel_fd(), kSetLevel, &record), -1);
    EXPECT_EQ(errno, EIO);
  }
  EXPECT_EQ(Board::io().ioctl_value(fd.lowlevel_fd(), kCount, 1), 0);
  EXPECT_EQ(Board::io().write(other.lowlevel_fd(), "\x01\x02", 2), 2);
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), "\x01\x02", 2), -1);
  EXPECT_EQ(errno, EAGAIN);
  EXPECT_EQ(Board::io().write(fd.lowlevel_fd(), "\x01\x02", 2), 2);

  // The log shows the failed request decoded as any other.
  EXPECT_EQ(sim.requests(kDevice, "ioctl SET_LEVEL").back(),
            (Request{kDevice, "ioctl SET_LEVEL", "channel=1 level=1", EIO, now()}));
}

}  // namespace
}  // namespace test
