// Arbitrary records from the PPP authentication agent into a set-up DSP modem slot, as
// the link hands them: 12 to 512 bytes whose length word is their size (the link drops
// shorter ones), at the start of the link's 512-byte buffer, the rest of which holds what
// earlier records left there. What the slot reports is encoded as for the controller.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iostream>

#include "boardsim/mctl.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "server/control_server.h"
#include "server/slots.h"
#include "slots/modem/modem_factory.h"
#include "slots/modem/modem_slot.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

constexpr std::size_t kBuffer = 512;

struct Setup {
  fuzz::NullBuffer null;
  BoardSim::Sim sim{64};
  CtrlSrv::Server server;
  ModemSlot* slot = nullptr;
  alignas(4) unsigned char buffer[kBuffer] = {};

  Setup() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
    sim.add<BoardSim::Mctl>();
    Board::install(&sim);
    server.Bind(&Slots::instance());
    LGCP::CreateParams create;
    TERM::ModemParams& params = create.select_modem();
    params.set_cid("");
    params.set_cdid("");
    params.set_fax();
    params.set_originate();  // a fax call: no program to start
    slot = static_cast<ModemSlot*>(ModemFactory::instance().NewSlot(create));
    slot->SetId(5);
    check(slot->IOnOutputStream() && slot->modem_id() == 0);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static Setup setup;
  if (size < sizeof(attr)) return 0;
  size = std::min(size, kBuffer);
  std::memcpy(setup.buffer, data, size);
  auto const length = static_cast<std::uint32_t>(size);
  std::memcpy(setup.buffer, &length, sizeof length);
  setup.slot->OnAuth(reinterpret_cast<attr const*>(setup.buffer));
  return 0;
}
