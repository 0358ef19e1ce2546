// E1 control against a stand-in whose answers come from the input: trunk states and
// counters of any 32-bit value, CAS records of 0 to 64 bytes, failed requests, CAS and
// trunk-mode commands, with status passes between. A probe service bound after E1
// control sees every signal it sends and fails the run on one that does not encode: a
// report the controller would never get.
//
// Input: steps, each an opcode byte and its operands (a step cut short ends the run).

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "boardsim/e1_cas.h"
#include "boardsim/maintenance.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "server/control_server.h"
#include "server/e1_ctl.h"
#include "tests/fuzz/loop.h"
#include "tests/fuzz/signal_check.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

class Input {
public:
  Input(std::uint8_t const* data, std::size_t size) : m_at(data), m_end(data + size) {}
  bool take(void* out, std::size_t n) {
    if (static_cast<std::size_t>(m_end - m_at) < n) return false;
    std::memcpy(out, m_at, n);
    m_at += n;
    return true;
  }
  template <class T>
  bool take(T& out) {
    return take(&out, sizeof out);
  }

private:
  std::uint8_t const* m_at;
  std::uint8_t const* m_end;
};

char const* const kFaults[] = {"ioctl status",    "ioctl tclk",     "ioctl open-trunk", "ioctl close-trunk",
                               "ioctl set-bits",  "ioctl get-bits", "ioctl configure",  "read",
                               "open"};
int const kErrors[] = {EIO, ENODEV, EINVAL, EAGAIN};

LGCP::Command cas_command(std::uint8_t what, std::int8_t trunk, std::int8_t timeslot, std::int32_t value) {
  LGCP::Command command;
  LGCP::CasCommand& cas = command.select_ioctl().select_cas();
  cas.set_channel().set_path(trunk);
  cas.set_channel().set_timeslot(timeslot);
  switch (what % 4) {
    case 0: cas.set_cmd().select_open(value); break;
    case 1: cas.set_cmd().select_close(); break;
    case 2: cas.set_cmd().select_set(value); break;
    default: cas.set_cmd().select_get(); break;
  }
  return command;
}

struct Streams {
  fuzz::NullBuffer null;
  Streams() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    fuzz::never_wait();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static Streams streams;
  BoardSim::Sim sim(64);
  sim.add<BoardSim::Maintenance>();
  sim.add<BoardSim::E1Cas>();
  Board::Io* const previous = Board::install(&sim);
  {
    CtrlSrv::Server server;
    E1Ctl e1;
    fuzz::SignalEncodeCheck probe;
    server.Bind(&e1);
    server.Bind(&probe);

    Input input(data, size);
    for (std::uint8_t op; input.take(op);) {
      switch (op % 6) {
        case 0: {  // what a trunk's status record says
          std::uint8_t trunk;
          std::uint32_t values[6];
          if (!input.take(trunk) || !input.take(values, sizeof values)) break;
          std::vector<std::string> args = {std::to_string(trunk % 4)};
          for (std::uint32_t v : values) args.push_back(std::to_string(v));
          check(sim.command(Board::kMaintenance, "set", args).error.empty());
          break;
        }
        case 1: {  // a record from the CAS device
          std::uint8_t length;
          std::uint8_t record[64];
          if (!input.take(length) || !input.take(record, length % 65)) break;
          sim.deliver(Board::kE1Cas, record, length % 65);
          break;
        }
        case 2:  // a status pass, as at a connection
          e1.OnConnect();
          break;
        case 3: {
          std::uint8_t what;
          std::int8_t trunk, timeslot;
          std::int32_t value;
          if (!input.take(what) || !input.take(trunk) || !input.take(timeslot) || !input.take(value)) break;
          check(e1.OnCommand(cas_command(what, trunk, timeslot, value)));
          break;
        }
        case 4: {
          std::int8_t trunk;
          std::uint8_t mode;
          if (!input.take(trunk) || !input.take(mode)) break;
          LGCP::Command command;
          command.select_trunkCfg().set_trunk(trunk);
          command.select_trunkCfg().set_mode(mode & 1 ? LGCP::TrunkMode::master : LGCP::TrunkMode::slave);
          check(e1.OnCommand(command));
          break;
        }
        default: {  // the next such request fails
          std::uint8_t which, error;
          if (!input.take(which) || !input.take(error)) break;
          char const* const fault = kFaults[which % std::size(kFaults)];
          bool const maintenance = std::strcmp(fault, "ioctl status") == 0 || std::strcmp(fault, "ioctl tclk") == 0;
          sim.fail(maintenance ? Board::kMaintenance : Board::kE1Cas, fault, kErrors[error % std::size(kErrors)],
                   BoardSim::Repeat::once);
          break;
        }
      }
      fuzz::run_passes(1);
    }
  }
  Board::install(previous);
  return 0;
}
