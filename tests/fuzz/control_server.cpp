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
#include "server/bus_ctl.h"
#include "server/control_server.h"
#include "server/e1_ctl.h"
#include "server/heartbeat.h"
#include "server/hw_tests.h"
#include "server/slot_factory.h"
#include "server/slots.h"
#include "server/spi_ctrl.h"
#include "slots/echo/echo_slot.h"
#include "slots/ext/ext_slot.h"
#include "slots/hdlc/hdlc_slot.h"
#include "slots/map/map_slot.h"
#include "slots/mcc/mcc_slot.h"
#include "slots/mixer/mixer_factory.h"
#include "slots/rtp/rtp_slot.h"
#include "slots/voice/voice_factory.h"
#include "tests/fuzz/loop.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;
using fuzz::run_passes;

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
    fuzz::never_wait();
    BoardSim::daemon_sim();  // the daemon's stand-in, every device it models
    // A mixer unit for a query to find, so that mixer creates make slots.
    BoardSim::control_command(BoardSim::daemon_sim(), "set mixer unit 3 32 8 512");
    // The factories start-up makes whose families take creates, in its order; not the
    // software T.38 factory nor the modem factory: their slots start processes. Voice
    // players and recorders connect only inside the private network namespace.
    MapFactory::instance();
    RtpFactory::instance();
    Mixer::MixerFactory::instance();
    ExtFactory::instance();
    MccFactory::instance();
    EchoFactory::instance();
    VoiceFactory::instance();
    HdlcSlotFactory::instance();
    HwMux::instance();
    Slots::instance().set_release_pause(std::chrono::milliseconds(0));
    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&HwTests::instance());
    ctrlServer.Bind(&BusCtl::instance());
    ctrlServer.Bind(&E1Ctl::instance());
    ctrlServer.Bind(&spiCtrl::instance());
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
  fuzz::run_passes(1);

  Control::Notify& server = ctrlServer;
  for (std::size_t at = 0; at < size;) {
    std::size_t const length = std::min<std::size_t>(data[at], size - at - 1);
    server.OnMessage(reinterpret_cast<char const*>(data + at + 1), static_cast<int>(length));
    at += 1 + length;
    drain(controller.lowlevel_fd());
  }
  fuzz::run_passes(1);
  drain(controller.lowlevel_fd());

  // The controller goes away: one pass reads the end, the next reports it.
  controller.close();
  fuzz::run_passes(3);
  check(Slots::instance().live().empty());
  for (SlotFactory* f = firstFactory; f; f = f->next()) check(f->slots().empty());
  ctrlServer.Deactivate();
  check(Packet::pool_free() == setup.pool_free);
  return 0;
}
