#pragma once
// The generic HDLC driver behind the host's network interfaces, as far as the digital
// modems reach it: the interface requests the daemon makes through Board::io() on a
// socket of its own, which no open of the stand-in's is behind. Its path is "/dev/net"
// (commands say "net"); nothing opens it.
//
// Requests, each logged with the interface's name:
//   ioctl SIOCGIFINDEX if=<name>
//   ioctl SIOCGIFFLAGS if=<name>
//   ioctl SIOCSIFFLAGS if=<name> flags=0x<written>
//   ioctl SIOCWANDEV/IF_GET_IFACE if=<name> type=0x1 size=<settings size>
//   ioctl SIOCWANDEV/IF_PROTO_PPP, ioctl SIOCWANDEV/IF_PROTO_HDLC   (alike)
//   ioctl SIOCWANDEV if=<name> type=0x<other> size=<s>
// All go on to the kernel, but SIOCWANDEV on an interface the model plays, which the
// model answers as an E1 interface:
//   IF_GET_IFACE   size 16 or more: the 16 bytes of E1 settings (zeros, the slot map at
//                  bytes 12-15), type IF_IFACE_E1 (0x1004) and size 16 written back;
//                  a smaller size is ENOBUFS
//   IF_PROTO_PPP   size 4: PPP framing
//   IF_PROTO_HDLC  size 4, {u16 encoding, u16 parity}: raw HDLC, keeping both
//   another size or type is EINVAL, no settings where some are wanted EFAULT.
//
// Control socket:
//   set net <if> slotmap <word>   plays the interface from now on, in raw HDLC (encoding
//                                 and parity 0)
//   set net <if> off              stops playing it
//   state net <if>                "slotmap=<word> proto=<hdlc|ppp> encoding=<e> parity=<p>"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "boardsim/model.h"

namespace BoardSim {

class Net : public Model {
public:
  struct Interface {
    std::uint32_t slot_map = 0;
    bool ppp = false;
    std::uint16_t encoding = 0;
    std::uint16_t parity = 0;
  };

  Net();

  // The interface as the model plays it; nothing when it does not.
  std::optional<Interface> played(std::string const& name) const;

protected:
  int open(Open&, int) override;
  bool foreign_request(unsigned long request, void const* arg, Request& entry) const override;
  int foreign_ioctl(unsigned long request, void* arg) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  std::map<std::string, Interface, std::less<>> m_played;
};

}  // namespace BoardSim
