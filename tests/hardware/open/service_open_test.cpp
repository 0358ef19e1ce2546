// The tone and DSP services when their device does not open. Each service opens its
// device once per process, when first used: every test here runs in a child of its own,
// and this program's own process never uses either service.

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sstream>

#include "boardsim/dsproc.h"
#include "boardsim/sim.h"
#include "boardsim/tonec.h"
#include "foundation/board_io.h"
#include "tests/hardware/receiver_fixture.h"
#include "tests/support/own_process.h"

namespace test {
namespace {

// A stand-in whose device fails its first open, behind the seam, and the daemon's
// streams captured.
struct FailingBoard {
  BoardSim::Sim sim;
  StreamCapture streams;
  Board::Io* previous;
  explicit FailingBoard(char const* device) : previous(Board::install(&sim)) {
    sim.add<BoardSim::Tonec>();
    sim.add<BoardSim::Dsproc>();
    sim.fail(device, "open", ENODEV, BoardSim::Repeat::once);
  }
  ~FailingBoard() { Board::install(previous); }
  std::size_t opens(char const* device) { return sim.requests(device, "open").size(); }
};

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

}  // namespace
}  // namespace test
