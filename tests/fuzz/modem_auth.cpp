// Arbitrary bytes from the PPP authentication agent, in arbitrary pieces, through an
// agent connection of the modem factory on a socket pair, to a DSP modem slot set up on
// modem 0 for a fax call (no program starts). The input is a run of pieces: a byte n,
// then the next n + 1 bytes (the last piece may be shorter). After each piece the loop
// reads what came.
//
// The oracle reads the same bytes as the link must: a length word outside 4..512 closes
// the connection; a complete record of 4 to 11 bytes is dropped; every other complete
// record goes to the slot of its session, and the slot reports a 140-byte request
// (type 1) and a 64-byte accounting record (type 4) to the controller. The signals
// counted and whether the connection is still there must match it exactly.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <sys/socket.h>

#include "boardsim/mctl.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "foundation/inet.h"
#include "server/control_server.h"
#include "server/slots.h"
#include "slots/modem/auth_client.h"
#include "slots/modem/modem_factory.h"
#include "slots/modem/modem_slot.h"
#include "tests/fuzz/loop.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

// Counts the slots' reports as they go to the controller.
struct Reports : CtrlSrv::Service {
  unsigned auth = 0, acct = 0;
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
  void OnSignal(LGCP::Signal const& signal) override {
    if (!signal.modemProceeding_isSelected()) return;
    ++(signal.get_modemProceeding().auth_isSelected() ? auth : acct);
  }
};

struct Setup {
  fuzz::NullBuffer null;
  BoardSim::Sim sim{64};
  CtrlSrv::Server server;
  Reports reports;
  ModemFactory* factory = nullptr;
  ModemSlot* slot = nullptr;

  Setup() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    sim.add<BoardSim::Mctl>();
    Board::install(&sim);
    server.Bind(&Slots::instance());
    server.Bind(&reports);
    fuzz::never_wait();
    factory = &ModemFactory::instance();
    LGCP::CreateParams create;
    TERM::ModemParams& params = create.select_modem();
    params.set_cid("");
    params.set_cdid("");
    params.set_fax();
    params.set_originate();
    slot = static_cast<ModemSlot*>(factory->NewSlot(create));
    slot->SetId(5);
    check(slot->IOnOutputStream() && slot->modem_id() == 0);
  }
};

// The link's reading, done over again on the bytes it was given.
struct Oracle {
  std::string pending;
  bool closed = false;
  unsigned auth = 0, acct = 0;

  void read(std::string_view bytes) {
    for (char byte : bytes) {
      if (closed) return;
      pending += byte;
      if (pending.size() < 4) continue;
      std::uint32_t words[3] = {};
      std::memcpy(words, pending.data(), std::min(pending.size(), sizeof words));
      if (words[0] < 4 || words[0] > 512) {
        closed = true;
        return;
      }
      if (pending.size() < words[0]) continue;
      if (words[0] >= 12 && words[2] == 0) {
        if (words[1] == 1 && words[0] == 140) ++auth;
        if (words[1] == 4 && words[0] == 64) ++acct;
      }
      pending.clear();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static Setup setup;
  int ends[2];
  check(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) == 0);
  Fd agent(ends[1]);
  INet4::Addr peer;
  peer.Assign("127.0.0.1:40000", nullptr);
  AuthClient* const client = setup.factory->AddClient(Fd(ends[0]), peer);
  // The loop could not watch it (no descriptor left): the factory closed and forgot it.
  if (!client) return 0;
  unsigned const auth = setup.reports.auth, acct = setup.reports.acct;
  Oracle oracle;

  std::string_view input(reinterpret_cast<char const*>(data), size);
  while (!input.empty() && !oracle.closed) {
    std::size_t const n = std::min<std::size_t>(static_cast<std::uint8_t>(input[0]) + 1u, input.size() - 1);
    std::string_view const piece = input.substr(1, n);
    input.remove_prefix(1 + n);
    check(::send(agent.lowlevel_fd(), piece.data(), piece.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(piece.size()));
    oracle.read(piece);
    fuzz::run_passes(2);
  }
  auto const& clients = setup.factory->auth_clients();
  bool const open = std::find(clients.begin(), clients.end(), client) != clients.end();
  check(open != oracle.closed);
  check(setup.reports.auth - auth == oracle.auth && setup.reports.acct - acct == oracle.acct);
  // The agent goes: its connection with it.
  agent.close();
  fuzz::run_passes(2);
  check(clients.empty());
  return 0;
}
