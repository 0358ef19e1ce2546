// An HDLC slot on an MCC slot's line, inside the process with the daemon's stand-in, on
// a clock of its own, driven by arbitrary records: frames into either channel, frames
// out as hdlcPackages, user data, time, write faults, and reconnects of the HDLC slot.
// Every signal must encode; every frame that reaches the MCC channel with bytes in it
// must come back as one userData of the same bytes, in order; once both slots are gone
// every packet is back in the pool and every channel closed.
//
// Input: records, each an operation byte and what it takes (see LLVMFuzzerTestOneInput);
// a record cut short takes what is left.

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/coder_env.h"
#include "boardsim/daemon_board.h"
#include "boardsim/diag.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/clock.h"
#include "foundation/packet.h"
#include "hardware/hw_mux.h"
#include "server/control_server.h"
#include "server/slot_factory.h"
#include "server/slots.h"
#include "slots/hdlc/hdlc_slot.h"
#include "slots/mcc/mcc_slot.h"
#include "tests/fuzz/loop.h"
#include "tests/fuzz/signal_check.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;
using fuzz::run_passes;

constexpr unsigned kMcc = 5;
constexpr unsigned kHdlc = 6;
constexpr unsigned kMaxFrame = 512;

std::uint64_t g_now_us = 1000000;
std::uint64_t fake_monotonic() { return g_now_us; }
Mux::ClockSource const g_clock{nullptr, &fake_monotonic};

ino_t inode_of(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 ? st.st_ino : 0;
}

// The stand-in behind a door that notes which open is on which port, and every frame
// written by another channel than the MCC slot's: the switch carries those to it.
class Watch : public Board::Io {
public:
  int open(char const* path, int flags) override { return board().open(path, flags); }
  int ioctl(int fd, unsigned long request, void* arg) override { return board().ioctl(fd, request, arg); }
  int ioctl_value(int fd, unsigned long request, unsigned long value) override {
    int const result = board().ioctl_value(fd, request, value);
    if (request == Board::MCC_TIMESLOT && result >= 0) {
      last_inode = inode_of(fd);
      last_port = result;
    }
    return result;
  }
  ssize_t read(int fd, void* buf, std::size_t len) override { return board().read(fd, buf, len); }
  ssize_t write(int fd, void const* buf, std::size_t len) override {
    ssize_t const written = board().write(fd, buf, len);
    if (written > 0 && mcc_inode && inode_of(fd) != mcc_inode)
      expected.emplace_back(static_cast<char const*>(buf), static_cast<std::size_t>(written));
    return written;
  }

  static BoardSim::Sim& board() { return BoardSim::daemon_sim(); }

  ino_t mcc_inode = 0;
  ino_t last_inode = 0;
  int last_port = -1;
  // Frames on their way to the MCC slot, oldest first.
  std::deque<std::string> expected;
};

// Sees every signal the slots send, and keeps the user data.
class Signals : public fuzz::SignalEncodeCheck {
public:
  void OnSignal(LGCP::Signal const& signal) override {
    SignalEncodeCheck::OnSignal(signal);
    if (signal.userData_isSelected()) {
      auto const& data = signal.get_userData();
      received.emplace_back(data.begin(), data.end());
    }
  }
  std::vector<std::string> received;
};

struct NoDiag : BoardSim::DiagSink {
  void line(std::string_view) override {}
};

struct Setup {
  fuzz::NullBuffer null;
  NoDiag no_diag;
  Watch watch;
  Signals signals;
  unsigned pool_free = 0;
  Setup() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    BoardSim::set_diag_sink(&no_diag);
    Mux::set_clock_source(&g_clock);
    fuzz::never_wait();
    BoardSim::daemon_sim();
    Board::install(&watch);
    HwMux& mux = HwMux::instance();
    // Bus outputs that carry a constant are left alone by the switch's refresh, which
    // would otherwise send the stand-in 256 requests a pass: most of this target's time.
    for (int output = HwMux::kBusPortBase; output < HwMux::kBusPortBase + int(HwMux::kShadowSize); ++output)
      mux.Write(output, HwMux::kIdleByte);
    MccFactory::instance();
    HdlcSlotFactory::instance();
    Slots::instance().set_release_pause(std::chrono::milliseconds(0));
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&signals);
    pool_free = Packet::pool_free();
  }
};

Setup& setup() {
  static Setup made;
  return made;
}

void command(unsigned slot, std::function<void(LGCP::Command&)> const& fill) {
  static int seq = 0;
  LGCP::Message message;
  message.set_seq(++seq % 1000);
  message.set_slot(slot);
  fill(message.set_pdu().select_command());
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  check(ASN1::encode(message, &env, std::back_inserter(bytes)));
  static_cast<Control::Notify&>(ctrlServer).OnMessage(bytes.data(), static_cast<int>(bytes.size()));
}

// Queues a frame on the stand-in's channel of `port` through its control protocol;
// false when there is no channel there.
bool inject(int port, std::string const& frame) {
  std::vector<std::string> words = {std::to_string(port), "inject"};
  if (!frame.empty()) {
    std::string hex;
    for (unsigned char c : frame) {
      char digits[3];
      std::snprintf(digits, sizeof digits, "%02x", c);
      hex += digits;
    }
    words.push_back(hex);
  }
  return Watch::board().command(Board::kMccControl, "set", words).error.empty();
}

void connect_line() {
  command(kMcc, [](LGCP::Command& c) { c.select_connect(kHdlc); });
}

// The frames the MCC slot reported are the ones that reached it, in order.
void compare() {
  Setup& s = setup();
  for (std::string const& got : s.signals.received) {
    check(!s.watch.expected.empty() && s.watch.expected.front() == got);
    s.watch.expected.pop_front();
  }
  s.signals.received.clear();
}

// One pass that serves the descriptors: frames move one hop.
void pass() {
  run_passes(1);
  compare();
}

// The input, read from the front.
struct Input {
  std::string_view rest;
  std::uint8_t byte() {
    if (rest.empty()) return 0;
    auto const b = static_cast<std::uint8_t>(rest.front());
    rest.remove_prefix(1);
    return b;
  }
  std::string bytes() {
    std::size_t const wanted = (static_cast<std::size_t>(byte()) << 8 | byte()) % (kMaxFrame + 1);
    std::string taken(rest.substr(0, wanted));
    rest.remove_prefix(taken.size());
    return taken;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  Setup& s = setup();
  Watch& watch = s.watch;
  watch.expected.clear();
  watch.mcc_inode = 0;
  command(kMcc, [](LGCP::Command& c) {
    LGCP::MccParams& p = c.select_create().select_mcc();
    p.set_type(LGCP::MccType::data);
    p.set_mode(LGCP::MccMode::standard);
  });
  check(Slots::instance().Get(kMcc) != nullptr);
  watch.mcc_inode = watch.last_inode;
  int const mcc_port = watch.last_port;
  command(kHdlc, [](LGCP::Command& c) {
    LGCP::HdlcParams& p = c.select_create().select_hdlcParams();
    p.set_trunk(1);
    p.set_log(0);
    p.set_address(0x1234);
  });
  connect_line();
  pass();

  Input in{{reinterpret_cast<char const*>(data), size}};
  while (!in.rest.empty()) {
    switch (in.byte() % 7) {
      case 0:  // a frame for the HDLC slot's channel, when it has one
        inject(watch.last_port, in.bytes());
        break;
      case 1: {  // a frame for the MCC slot's channel
        std::string const frame = in.bytes();
        if (inject(mcc_port, frame) && !frame.empty()) watch.expected.push_back(frame);
        break;
      }
      case 2: {  // frames out
        unsigned const count = in.byte() % 4;
        std::vector<std::string> bodies;
        for (unsigned i = 0; i < count; ++i) bodies.push_back(in.bytes());
        command(kHdlc, [&](LGCP::Command& c) {
          auto& packages = c.select_ioctl().select_hdlcPackages();
          for (std::string const& body : bodies) {
            LGCP::HdlcPackage package;
            package.set_body(std::vector<char>(body.begin(), body.end()));
            packages.push_back(package);
          }
        });
        break;
      }
      case 3: {  // user data on the line
        std::string const bytes = in.bytes();
        command(kMcc, [&](LGCP::Command& c) { c.select_userData(std::vector<char>(bytes.begin(), bytes.end())); });
        break;
      }
      case 4:  // time
        g_now_us += (in.byte() & 1 ? 3000 : 100) * 1000u;
        break;
      case 5: {  // the next write fails
        static int const errors[] = {EAGAIN, EIO, EMSGSIZE, EINTR};
        Watch::board().fail(Board::kMccControl, "write", errors[in.byte() % 4], BoardSim::Repeat::once);
        break;
      }
      case 6:  // the HDLC channel reads its end, then the slot is connected again
        inject(watch.last_port, "");
        pass();
        command(kHdlc, [](LGCP::Command& c) { c.select_disconnect(); });
        connect_line();
        break;
    }
    pass();
  }
  for (int i = 0; i < 16 && !watch.expected.empty(); ++i) pass();
  compare();
  check(watch.expected.empty());

  Watch::board().clear_faults();
  command(kHdlc, [](LGCP::Command& c) { c.select_destroy(); });
  command(kMcc, [](LGCP::Command& c) { c.select_destroy(); });
  pass();
  check(Slots::instance().live().empty());
  for (SlotFactory* f = firstFactory; f; f = f->next()) check(f->slots().empty());
  check(Packet::pool_free() == s.pool_free);
  std::vector<std::string> const state = Watch::board().command(Board::kMccControl, "state", {}).lines;
  check(state.size() == 1);  // only the free counts: every channel closed
  Watch::board().clear_requests();
  return 0;
}
