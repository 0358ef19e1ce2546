// The tone and DSP services when their device does not open or hangs up. Each service
// opens its device once per process, when first used: every test here runs in a child of
// its own, and this program's own process never uses either service.

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>

#include <functional>
#include <sstream>

#include "boardsim/dsproc.h"
#include "boardsim/sim.h"
#include "boardsim/tonec.h"
#include "foundation/board_io.h"
#include "tests/hardware/receiver_fixture.h"
#include "tests/support/own_process.h"

namespace test {
namespace {

// A stand-in behind the seam whose `failing` device, if any, fails its first open, and
// the daemon's streams captured.
struct FailingBoard {
  BoardSim::Sim sim;
  StreamCapture streams;
  Board::Io* previous;
  explicit FailingBoard(char const* failing) : previous(Board::install(&sim)) {
    sim.add<BoardSim::Tonec>();
    sim.add<BoardSim::Dsproc>();
    if (failing) sim.fail(failing, "open", ENODEV, BoardSim::Repeat::once);
  }
  ~FailingBoard() { Board::install(previous); }
  std::size_t opens(char const* device) { return sim.requests(device, "open").size(); }
};

// The device of the service, which `use` opened, hangs up, or gives an empty record
// (`empty`; no record is empty): the loop stops watching it with `line`, and the service
// keeps the descriptor for its requests: `use` again opens nothing.
template <class Service>
std::string hang_up(char const* device, bool empty, std::function<void(Receiver&)> const& use,
                    std::string const& line) {
  Failures f;
  FakeClock clock;
  SimulatedPoll poll{clock};
  FailingBoard board(nullptr);
  Receiver receiver(5);
  use(receiver);
  if (empty)
    f.check(board.sim.deliver(device, "", 0), "delivered");
  else
    ::shutdown(Service::instance().lowlevel_fd(), SHUT_RDWR);
  unsigned passes = 0;
  poll.before_poll = [&] {
    if (++passes > 1000) multiplexer.terminate();  // spinning: the run ends, the check fails
  };
  run_until([] { return false; }, 3000);
  f.check(passes < 100, "polled on after the hang-up: " + std::to_string(passes) + " passes");
  f.equal(board.streams.err(), line + "\n", "error stream");
  use(receiver);
  f.equal(board.opens(device), 1u, "opens");
  return f.result();
}

TEST(ServiceOpen, ToneServiceRetriesTheOpenOnlyToConfigure) {
  EXPECT_EQ(in_own_process([] {
              Failures f;
              FailingBoard board(Board::kDtmf);
              Receiver receiver(5);
              f.check(!receiver.enableDTMF(true), "an enable without the device fails");
              f.check(!receiver.echoCancel(true), "so does a switch");
              f.equal(board.opens(Board::kDtmf), 1u, "the switches did not open it again");
              f.equal(board.streams.err(),
                      "open tonec fail, DTMF proceeding disabled: No such device\n"
                      "DTMF_ENABLE_DETECTOR fail: timeslot=5 id=1 errno=\"Bad file descriptor\"\n"
                      "CHANNEL_LMS_ON fail: timeslot=5 errno=\"Bad file descriptor\"\n",
                      "error stream");
              board.sim.fail(Board::kDtmf, "open", ENODEV, BoardSim::Repeat::once);
              LGCP::IVAParams iva;
              iva.set_det_lvl_dB(-3);
              f.check(!receiver.configureIVA(iva), "the configure's open fails too");
              f.check(receiver.configureIVA(iva), "the next configure opens the device");
              f.equal(board.opens(Board::kDtmf), 3u, "opens");
              f.check(receiver.enableDTMF(true), "and the detector works from then on");
              std::string const err = board.streams.err();
              f.equal(err.substr(err.find("open tonec fail", 10)),
                      "open tonec fail, DTMF proceeding disabled: No such device\n"
                      "configure IVA fail: (interface not opened) timeslot=5\n"
                      "DTMF_ENABLE_DETECTOR done: timeslot=5 id=2\n",
                      "error stream after the retry");
              f.equal(board.sim.requests(Board::kDtmf, "open").back().fields, "flags=O_RDONLY|O_NONBLOCK",
                      "the tone device is opened read-only");
              return f.result();
            }),
            "");
}

TEST(ServiceOpen, DspServiceRetriesTheOpenToConfigureAndToDisableTones) {
  EXPECT_EQ(in_own_process([] {
              Failures f;
              FailingBoard board(Board::kDsp);
              Receiver receiver(6);
              f.check(!receiver.enableVAD(true), "an enable without the device fails");
              f.equal(board.opens(Board::kDsp), 1u, "the enable did not open it again");
              board.sim.fail(Board::kDsp, "open", ENODEV, BoardSim::Repeat::once);
              receiver.disableToneAll();
              receiver.configureDelays(1, 2);
              f.equal(board.opens(Board::kDsp), 3u, "each of them tried");
              f.check(receiver.enableVAD(true), "the device works from then on");
              f.equal(board.streams.err(),
                      "open dsproc fail, VAD proceeding disabled: No such device\n"
                      "DSPROC_ENABLE VAD fail: timeslot=6 id=1 errno=\"Bad file descriptor\"\n"
                      "open dsproc fail, VAD proceeding disabled: No such device\n"
                      "Disable All Tone fail: (interface not opened) timeslot=6\n"
                      "DSPROC_ENABLE VAD done: timeslot=6 id=2\n",
                      "error stream");
              f.equal(board.streams.log(), "DSPROC_CONFIGURE DELAYS ts=6 rx=1 tx=2\n", "log stream");
              f.equal(board.sim.requests(Board::kDsp, "open").back().fields, "flags=O_RDWR|O_NONBLOCK", "open");
              return f.result();
            }),
            "");
}

TEST(ServiceOpen, ToneServiceStopsWatchingADeviceAtItsEndAndKeepsIt) {
  EXPECT_EQ(in_own_process([] {
              return hang_up<Hardware::TonecReceiverService>(
                  Board::kDtmf, true,
                  [](Receiver& r) {
                    LGCP::IVAParams iva;
                    iva.set_det_lvl_dB(-3);
                    r.configureIVA(iva);
                  },
                  "tonec hung up: no more events");
            }),
            "");
}

TEST(ServiceOpen, DspServiceStopsWatchingADeviceThatHungUpAndKeepsIt) {
  EXPECT_EQ(in_own_process([] {
              return hang_up<Hardware::DSProcReceiverService>(
                  Board::kDsp, false, [](Receiver& r) { r.configureDelays(1, 2); }, "dsproc hung up: no more events");
            }),
            "");
}

}  // namespace
}  // namespace test
