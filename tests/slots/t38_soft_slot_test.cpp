// Software T.38 slots through the slot table. A test that starts the relay runs in a
// process of its own, with the relay program's stand-in at its fixed path in a private
// mount namespace and the child-exit service running, on the real clock.

#include "slots/t38/t38_soft_slot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/board_io.h"
#include "foundation/child_wait.h"
#include "tests/slots/channel_fixture.h"
#include "tests/support/install_program.h"
#include "tests/support/private_mounts.h"

namespace {

using BoardSim::Repeat;
using lgcp_test::T38Params;

constexpr int kSlot = 7;

std::string read_file(std::string const& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool abort_on(LGCP::Message const& m) { return lgcp_test::slot_of(m) == kSlot && lgcp_test::abort_of(m); }

// Runs `body` with the relay installed and a harness on the real clock; "" when its
// checks passed.
std::string with_relay(std::function<void(test::ChannelHarness&)> const& body) {
  return test::in_private_mounts({"/usr/local"}, [&]() -> std::string {
    ChildWait::Activate();
    test::ChannelHarness h;
    EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 0);
    EXPECT_NE(h.streams.log().find("t38: can't detect T38 resources\n"), std::string::npos) << "no program yet";
    if (std::string const failed = test::install_program(T38_PROGRAM, T38SoftFactory::kProgram); !failed.empty())
      return failed;
    EXPECT_EQ(T38SoftFactory::instance().QueryNumOfInstances(), 4);
    body(h);
    return ::testing::Test::HasFailure() ? "a check in the relay's process failed (see above)" : "";
  });
}

TEST(T38SoftSlot, TheFourFixedArgumentsAndAnAbortWhenTheRelayEnds) {
  std::string const failed = with_relay([](test::ChannelHarness& h) {
    ASSERT_TRUE(h.command(lgcp_test::create_t38soft(++h.seq, kSlot, T38Params{})));
    long const port = h.last_port();
    EXPECT_EQ(h.logged("/dev/mcc/ctl", "open").back(), "flags=O_RDWR");
    EXPECT_EQ(h.logged("/dev/mcc/ctl", "ioctl MCC_ALLOCATE").back(), "mode=2 size=160 reserved=0 rx=2 tx=3");
    std::string const log = h.streams.log();
    EXPECT_NE(log.find("t38soft: args for run t38 daemon:\n"
                       "t38soft: arg[0]=/usr/local/sbin/t38\n"
                       "t38soft: arg[1]=--child\n"
                       "t38soft: arg[2]=--remote\n"
                       "t38soft: arg[3]=10.0.0.5/4000/4002\n"
                       "t38soft: t38 daemon["),
              std::string::npos)
        << log;
    auto const active = h.take([&](LGCP::Message const& m) {
      auto const& s = m.get_pdu().get_signal();
      return (s.transmitter_isSelected() && s.get_transmitter().get_active().getValue() == port) ||
             (s.receiver_isSelected() && s.get_receiver().get_active().getValue() == port);
    });
    EXPECT_EQ(active.size(), 2u) << "both streams on the channel's port, after the answer";

    ASSERT_TRUE(h.wait_for(abort_on, 5000)) << "the relay without words exits at once";
    auto const aborts = h.take(abort_on);
    EXPECT_EQ(lgcp_test::abort_of(aborts.at(0)), 0);
    EXPECT_NE(h.streams.log().find("07:t38 soft: t38 daemon terminated with code=0\n"), std::string::npos);
    EXPECT_TRUE(h.command(lgcp_test::command(++h.seq, kSlot, [](LGCP::Command& c) { c.select_destroy(); })));
    EXPECT_FALSE(h.wait_for([](LGCP::Message const&) { return true; }, 200)) << "nothing after the destroy";
  });
  EXPECT_EQ(failed, "");
}

// Opens of the HDLC controller land on descriptor 0.
class DescriptorZero : public Board::Io {
public:
  explicit DescriptorZero(Board::Io& sim) : m_sim(sim) {}
  int open(char const* path, int flags) override {
    int const fd = m_sim.open(path, flags);
    if (fd <= 0 || std::string(path) != Board::kMccControl) return fd;
    ::dup2(fd, 0);
    ::close(fd);
    return 0;
  }
  int ioctl(int fd, unsigned long request, void* arg) override { return m_sim.ioctl(fd, request, arg); }
  int ioctl_value(int fd, unsigned long request, unsigned long value) override {
    return m_sim.ioctl_value(fd, request, value);
  }
  ssize_t read(int fd, void* buf, std::size_t len) override { return m_sim.read(fd, buf, len); }
  ssize_t write(int fd, void const* buf, std::size_t len) override { return m_sim.write(fd, buf, len); }

private:
  Board::Io& m_sim;
};

TEST(T38SoftSlot, AChannelOnDescriptorZeroReachesTheRelayAsItsStandardInput) {
  std::string const failed = with_relay([](test::ChannelHarness& h) {
    DescriptorZero zero(test::switch_board());
    Board::Io* const previous = Board::install(&zero);
    T38Params params;
    params.args = {"report=/usr/local/report", "read", "exit=3"};
    ASSERT_TRUE(h.command(lgcp_test::create_t38soft(++h.seq, kSlot, params)));
    Board::install(previous);
    h.inject(h.last_port(), "\x54\x33\x38");
    ASSERT_TRUE(h.wait_for(abort_on, 5000));
    EXPECT_EQ(lgcp_test::abort_of(h.take(abort_on).at(0)), 768) << "exit code 3 as a wait status";
    EXPECT_EQ(read_file("/usr/local/report"),
              "7\n/usr/local/sbin/t38\n--child\n--remote\n10.0.0.5/4000/4002\nreport=/usr/local/report\n"
              "read\nexit=3\nstdin=seqpacket\n543338\n");
    EXPECT_TRUE(test::mcc_model().channels().empty()) << "the relay's end closed the channel";
  });
  EXPECT_EQ(failed, "");
}

class T38FailureTest : public test::ChannelFixture {};

TEST_F(T38FailureTest, EachFailedStepIsLoggedWithItsErrnoAndNoSlotIsMade) {
  struct Step {
    char const* request;
    int error;
    char const* line;
  };
  for (Step const& step : {Step{"open", ENOENT, "t38soft: T38SoftFactory::INewSlot - FAIL to open </dev/mcc/ctl> [2]\n"},
                           Step{"ioctl MCC_ALLOCATE", ENOSPC,
                                "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [28]\n"},
                           Step{"ioctl MCC_TIMESLOT", EINVAL,
                                "t38soft: T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [22]\n"}}) {
    test::switch_board().fail(Board::kMccControl, step.request, step.error, Repeat::once);
    EXPECT_EQ(answer(lgcp_test::create_t38soft(++seq, kSlot, T38Params{})), LGCP::ErrorCause::insufficientResources);
    EXPECT_NE(streams.err().find(step.line), std::string::npos) << step.line;
  }
  EXPECT_EQ(logged(Board::kMccControl, "close").size(), 2u) << "each opened descriptor closed";
  EXPECT_EQ(streams.log().find("args for run"), std::string::npos);
}

}  // namespace
