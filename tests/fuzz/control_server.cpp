// Arbitrary frames into the control server with every service the daemon binds and the
// stand-in board behind the devices, then the controller goes away: every slot must be
// gone, every factory's list empty and every packet back in the pool.
//
// Input: frames, each a length byte and that many body bytes (a last frame cut short
// takes what is left). ctest runs this in a private network namespace: fuzzed commands
// may name any host.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <streambuf>

#include "boardsim/control.h"
#include "boardsim/daemon_board.h"
#include "foundation/dpc.h"
#include "foundation/fd.h"
#include "foundation/inet.h"
#include "foundation/multiplexer.h"
#include "foundation/packet.h"
#include "foundation/timer.h"
#include "hardware/hw_mux.h"
#include "monitoring/monitoring_ctl.h"
#include "protocol/control_service.h"
#include "server/control_server.h"
#include "server/heartbeat.h"
#include "server/slot_factory.h"
#include "server/slots.h"
#include "slots/echo/echo_slot.h"
#include "slots/ext/ext_slot.h"
#include "slots/map/map_slot.h"
#include "slots/mixer/mixer_factory.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

// A link that is connected as soon as it is activated, over one end of a socket pair.
class PairLink : public Control::ServiceNet {
public:
  explicit PairLink(Fd end) : m_end(std::move(end)) {}

protected:
  bool ImplActivate() override {
    INet4::Addr peer;
    peer.Assign("127.0.0.1:1", nullptr);
    Connected(m_end, peer);
    m_end.close();
    return true;
  }
  void ImplDeactivate() override {}
  void ImplOnDisconnect() override {}

private:
  Fd m_end;
};

// Never waits: a pass ends as soon as its work is done.
int poll_now(pollfd* records, nfds_t count, int) { return ::poll(records, count, 0); }

// Runs `passes` loop passes.
void run_passes(unsigned passes) {
  struct Counter {
    unsigned left;
    Dpc dpc;
    // Something to wait for, so that a loop with no descriptor left is no hang.
    Timer far;
    void step() {
      if (left-- == 0) multiplexer.terminate();
    }
    void never() {}
  } counter{passes, {}, {}};
  counter.dpc.Bind(&counter, &Counter::step);
  counter.dpc.Activate();
  counter.far.set(3600000, &Counter::never, &counter);
  multiplexer.run(false, true);
}

void drain(int fd) {
  char buf[65536];
  while (::recv(fd, buf, sizeof buf, MSG_DONTWAIT) > 0) {
  }
}

struct Setup {
  fuzz::NullBuffer null;
  unsigned pool_free = 0;
  Setup() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    multiplexer.set_poll_function(&poll_now);
    BoardSim::daemon_sim();  // the daemon's stand-in: its switch, watchdog, DSPs and mixer
    // A mixer unit for a query to find, so that mixer creates make slots.
    BoardSim::control_command(BoardSim::daemon_sim(), "set mixer unit 3 32 8 512");
    // The factories start-up makes whose families take creates, in its order.
    MapFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    EchoFactory::instance();
    HwMux::instance();
    Slots::instance().set_release_pause(std::chrono::milliseconds(0));
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&MonitoringCtl::instance());
    pool_free = Packet::pool_free();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static Setup setup;
  int fds[2];
  check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds) == 0);
  Fd controller(fds[0]);
  ctrlServer.Activate(new PairLink(Fd(fds[1])));
  run_passes(1);

  Control::Notify& server = ctrlServer;
  for (std::size_t at = 0; at < size;) {
    std::size_t const length = std::min<std::size_t>(data[at], size - at - 1);
    server.OnMessage(reinterpret_cast<char const*>(data + at + 1), static_cast<int>(length));
    at += 1 + length;
    drain(controller.lowlevel_fd());
  }
  run_passes(1);
  drain(controller.lowlevel_fd());

  // The controller goes away: one pass reads the end, the next reports it.
  controller.close();
  run_passes(3);
  check(Slots::instance().live().empty());
  for (SlotFactory* f = firstFactory; f; f = f->next()) check(f->slots().empty());
  ctrlServer.Deactivate();
  check(Packet::pool_free() == setup.pool_free);
  return 0;
}
