#include "server/bus_ctl.h"

#include <iostream>

#include "foundation/ext.h"
#include "server/spi_ctrl.h"

BusCtl& BusCtl::instance() {
  static BusCtl clock;
  return clock;
}

void BusCtl::DisableControl() {
  std::clog << "clock control disabled." << std::endl;
  m_enabled = false;
}

bool BusCtl::IsOpened() { return m_enabled && m_device.IsOpened(); }

void BusCtl::DefaultClock() {
  if (!m_enabled) return;
  LGCP::ClockCfg config;
  config.set_clkSel0(LGCP::ClkSel0::internal);
  config.set_bextEn(LGCP::BExtEn::disabled);
  config.set_source(-1);
  SetClockSource(config);
}

bool BusCtl::OnCommand(LGCP::Command const& command) {
  if (!command.clockCfg_isSelected()) return false;
  if (!m_enabled) {
    Error(LGCP::ErrorCause::unsupported);
    return true;
  }
  SetClockSource(command.get_clockCfg());
  Success();
  return true;
}

void BusCtl::SetClockSource(LGCP::ClockCfg const& config) {
  if (!IsOpened()) {
    // Without the selector no line interface may drive the clock either.
    spiCtrl::instance().clock(-1);
    std::cerr << ext::header(this) << "set clock source fail: code 1." << std::endl;
    return;
  }
  std::cerr << ext::header(this) << "set clock source cmd: " << config << std::endl;
  if (config.get_clkSel0() == LGCP::ClkSel0::internal) {
    Select(Hardware::ClockSource::kFreeRun);
  } else if (config.get_bextEn() == LGCP::BExtEn::disabled) {
    Select(Hardware::ClockSource::kX3);
  } else if (int const source = config.get_source().getValue(); source >= 0) {
    Select(static_cast<unsigned>(source));
  }
}

void BusCtl::Select(unsigned source) {
  if (!IsOpened()) {
    std::cerr << ext::header(this) << "device open error" << std::endl;
    return;
  }
  if (m_device.Select(source) != 0) {
    std::cerr << ext::header(this) << "HW_CLOCK_SELECT fail." << std::endl;
    return;
  }
  std::cerr << ext::header(this) << "clock source = ";
  // The driver may take a source past the name table: its number stands for the name.
  if (char const* const name = Hardware::ClockSource::Name(source))
    std::cerr << name;
  else
    std::cerr << source;
  std::cerr << std::endl;
}
