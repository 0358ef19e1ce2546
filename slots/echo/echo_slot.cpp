#include "slots/echo/echo_slot.h"

#include <iostream>

#include "server/slot.h"

namespace {

// Its Slot base is reached only through the factory's Slot pointer.
class EchoSlot : Slot {
public:
  static Slot* Make(unsigned channel) { return new EchoSlot(channel); }

private:
  explicit EchoSlot(unsigned channel) : m_channel(channel) {}

  void IAfterCreate() override {
    OnChangeOutputStream(true);
    OnChangeInputStream(true);
  }
  bool IBeforeDestroy() override { return true; }
  bool IOnOutputStream() override { return true; }
  bool IOnInputStream() override { return true; }
  int IGetTransmitChannel() override { return static_cast<int>(m_channel); }
  int IGetReceiveChannel() override { return static_cast<int>(m_channel); }
  std::string GetName() const override { return "echo"; }

  unsigned m_channel;
};

}  // namespace

EchoFactory& EchoFactory::instance() {
  static EchoFactory factory;
  return factory;
}

void EchoFactory::Scan() {
  for (bool& available : m_available) available = false;
  std::clog << "Scanning echo channels ..." << std::endl;
}

void EchoFactory::set_bus_available(unsigned bus, bool available) {
  if (bus < kBuses) m_available[bus] = available;
}

Slot* EchoFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.echo_isSelected()) return nullptr;
  LGCP::EchoParams const& echo = params.get_echo();
  // A negative bus is a large one.
  unsigned const bus = static_cast<unsigned>(echo.get_bus().getValue());
  if (bus >= kBuses || !m_available[bus]) return nullptr;
  // The channel is not bounded; unsigned arithmetic keeps any value defined.
  return EchoSlot::Make(bus * 32 + static_cast<unsigned>(echo.get_channel().getValue()));
}

void EchoFactory::Query(LGCP::Resources& resources) {
  for (unsigned bus = 0; bus < kBuses; ++bus)
    if (m_available[bus]) resources.ref_echoBus().push_back(ASN1::INTEGER(static_cast<int>(bus), &ASN1::INTEGER::theInfo));
}
