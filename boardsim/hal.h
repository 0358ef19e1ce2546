#pragma once
// The time-slot switch, Board::kHal. Each output port is disabled, driven with a
// constant byte, or fed from an input port; reading a port answers the byte it carries.
// Ports are any 32-bit number, kept per port as the daemon names them.
//
// What a port carries: its constant byte; when fed from an input, what that input
// carries by the same rule (a loop of connections carries 0xff); otherwise, unset or
// disabled, what the trunk channel of that number carries: 0xff unless a test set it
// (set_input, or "set hal" on the control socket).
//
// The requests of foundation/board_requests.h, logged with these fields (ports in
// decimal, bytes as 0x and at least two lowercase hex digits):
//   ioctl connect   output=<port> input=<port>
//   ioctl disable   output=<port>
//   ioctl write     output=<port> byte=0x<hh>
//   ioctl read      port=<port> byte=0x<hh> got=0x<hh>   (got= only when it succeeded)
// A byte above 0xff to write, or any byte but 0xff going in to a read, is EINVAL; a
// null record EFAULT; any of them by value (ioctl_value) EFAULT; every other request
// ENOTTY. The device carries no data: writing it is EINVAL, reading it finds no event.
//
// Control socket:
//   state hal <port>          output=<port> <unset|disabled|byte=0x<hh>|input=<port>> carries=0x<hh>
//   set hal <port> <byte>     the trunk channel <port> carries <byte> (decimal or 0x hex)
//
// The clock selector and the SPI bus on the same device: boardsim/hal_control.h.

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "boardsim/hal_control.h"
#include "boardsim/model.h"

namespace BoardSim {

class Hal : public Model {
public:
  struct Output {
    enum class Kind { unset, disabled, byte, input };
    Kind kind = Kind::unset;
    std::uint32_t value = 0;  // the byte (Kind::byte) or the input port (Kind::input)
    bool operator==(Output const&) const = default;
  };

  Hal();

  Output output(std::uint32_t port) const;
  std::uint8_t carries(std::uint32_t port) const;
  // What the trunk channel `port` carries when the switch does not drive the port.
  void set_input(std::uint32_t port, std::uint8_t byte);
  // output() without taking the lock, for the hooks of the models the switch connects
  // (boardsim/mcc.h), which run with the stand-in's lock held.
  Output output_of(std::uint32_t port) const;
  HalControl const& control() const { return m_control; }

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  // Unlocked forms, for hooks that already hold the stand-in's lock.
  std::uint8_t carried(std::uint32_t port) const;
  std::string state_text(std::uint32_t port) const;

  // Hashed: the switch refresh touches 256 outputs a loop pass.
  std::unordered_map<std::uint32_t, Output> m_outputs;
  std::map<std::uint32_t, std::uint8_t> m_inputs;
  HalControl m_control;
};

}  // namespace BoardSim
