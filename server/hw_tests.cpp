#include "server/hw_tests.h"

#include <cstdlib>
#include <iostream>
#include <unistd.h>

#include "foundation/ext.h"
#include "hardware/hw_mux.h"

namespace {
constexpr int kTimeslotsPerBus = 128;
constexpr unsigned kSettleWriteUs = 500;
constexpr unsigned kSettleDisableUs = 250;

std::uint8_t next_byte() { return static_cast<std::uint8_t>(::random() & 0xFF); }
}  // namespace

HwTests& HwTests::instance() {
  static HwTests tests;
  return tests;
}

bool HwTests::OnCommand(LGCP::Command const& command) {
  if (!command.testBpc_isSelected()) return false;
  LGCP::BpcTestParams const& params = command.get_testBpc();
  m_bus = static_cast<int>(params.get_bus().getValue());
  m_first = HwMux::kBusPortBase + m_bus * kTimeslotsPerBus + static_cast<int>(params.get_timeslot_start().getValue());
  m_end = m_first + static_cast<int>(params.get_timeslot_length().getValue());
  m_seed = params.get_seed().getValue();
  ::srandom(static_cast<unsigned>(m_seed));
  LGCP::BpcTestMode const& mode = params.get_mode();
  if (mode.read_isSelected()) {
    if (Check("test failed on channel ", " expected ", " read ")) Success();
  } else if (mode.write_isSelected()) {
    WriteTest();
  } else if (mode.disconnect_isSelected()) {
    Disable();
  } else {
    Error(LGCP::ErrorCause::invalidParams);
  }
  return true;
}

bool HwTests::Check(char const* failed, char const* expected, char const* read) {
  for (int port = m_first; port < m_end; ++port) {
    char const want = static_cast<char>(next_byte());
    char const got = static_cast<char>(HwMux::instance().Read(port));
    if (got == want) continue;
    std::cerr << ext::header(this) << failed << port % kTimeslotsPerBus << expected << ext::hex(&want, 1) << read
              << ext::hex(&got, 1) << std::endl;
    Error(LGCP::ErrorCause::busError);
    return false;
  }
  return true;
}

void HwTests::WriteTest() {
  for (int port = m_first; port < m_end; ++port) HwMux::instance().Write(port, next_byte());
  ::usleep(kSettleWriteUs);
  ::srandom(static_cast<unsigned>(m_seed));
  if (Check("write failed on channel ", " write ", " written ")) Success();
}

void HwTests::Disable() {
  for (int port = m_first; port < m_end; ++port) HwMux::instance().Disable(port);
  ::usleep(kSettleDisableUs);
  Success();
}
