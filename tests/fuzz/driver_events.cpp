// Arbitrary driver records into the tone and DSP devices, read by their services and
// handed to slots that turn them into signals, and into an RTP slot's session: the
// handlers return, nothing crashes, and every signal the slots raise encodes.
//
// Input: datagrams, each a head byte and up to 40 bytes. The head's top bit picks
// "/dev/rtp", else its low bit picks the device (0 "/dev/dtmf", 1 "/dev/dsp"); the bits
// between, modulo 41, are the length (a last datagram cut short takes what is left). An
// empty one is not delivered: no record is empty, and reading one ends the device's watch
// for the rest of the run. Each datagram is followed by one loop pass. ctest runs this in
// a private network namespace: the RTP slot has a UDP socket of its own.

#include <poll.h>

#include <cstdint>
#include <iostream>
#include <memory>
#include <vector>

#include "boardsim/dsproc.h"
#include "boardsim/rtp.h"
#include "boardsim/sim.h"
#include "boardsim/tonec.h"
#include "foundation/board_io.h"
#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "foundation/timer.h"
#include "foundation/trace_ctl.h"
#include "server/control_server.h"
#include "server/slots.h"
#include "slots/rtp/rtp_slot.h"
#include "tests/fuzz/signal_check.h"
#include "tests/fuzz/support.h"
#include "tests/server/event_slot.h"
#include "tests/server/lgcp_messages.h"

namespace {

using fuzz::check;

constexpr std::size_t kMaxDatagram = 40;

int poll_now(pollfd* records, nfds_t count, int) { return ::poll(records, count, 0); }

// One loop pass: deferred calls run twice before its poll and once more at the start of
// the next pass, which the third call ends.
void run_pass() {
  struct Counter {
    int calls = 0;
    Dpc dpc;
    Timer far;  // something to wait for: a loop with nothing to wait on is a hang
    void step() {
      if (++calls == 3) multiplexer.terminate();
    }
    void never() {}
  } counter;
  counter.dpc.Bind(&counter, &Counter::step);
  counter.dpc.Activate();
  counter.far.set(3600000, &Counter::never, &counter);
  multiplexer.run(false, true);
}

struct Setup {
  fuzz::NullBuffer null;
  BoardSim::Sim sim{16};
  fuzz::SignalEncodeCheck encode;
  CtrlSrv::Server server;
  std::vector<std::unique_ptr<test_server::EventSlot>> slots;
  std::unique_ptr<Slot> rtp;

  Setup() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    multiplexer.set_poll_function(&poll_now);
    traces.signalling.events = true;
    sim.add<BoardSim::Tonec>();
    sim.add<BoardSim::Dsproc>();
    sim.add<BoardSim::Rtp>();
    Board::install(&sim);
    server.Bind(&encode);
    server.Bind(&Slots::instance());
    // Timeslots 0, 1 and 2, two slots sharing 1; ids 1, 2, ... go to the enables in
    // order, so small ids in the input hit them.
    for (auto [id, ts] : {std::pair{0, 0u}, {1, 1u}, {2, 1u}, {3, 2u}}) {
      slots.push_back(std::make_unique<test_server::EventSlot>(id, ts));
      test_server::EventSlot& slot = *slots.back();
      if (id != 1) slot.enableDTMF(true);
      if (id != 2) slot.enableVAD(true);
      if (id != 0) slot.enableSD(true);
      if (id == 2 || id == 3) slot.enableBSS(true);
    }
    // Slot 4, an RTP session on channel 2048 with packet detection on.
    rtp.reset(RtpFactory::instance().INewSlot(lgcp_test::create_params({})));
    check(rtp != nullptr);
    rtp->SetId(4);
    LGCP::IoctlParams pd;
    pd.select_pd_enable().set_timeout(500);
    check(rtp->Ioctl(pd));
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static Setup setup;
  for (std::size_t at = 0; at < size;) {
    std::uint8_t const head = data[at++];
    std::size_t const length = std::min<std::size_t>(((head & 0x7F) >> 1) % (kMaxDatagram + 1), size - at);
    char const* device = head & 0x80 ? Board::kRtp : head & 1 ? Board::kDsp : Board::kDtmf;
    if (length > 0) check(setup.sim.deliver(device, data + at, length));
    at += length;
    run_pass();
  }
  return 0;
}
