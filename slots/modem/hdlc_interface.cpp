#include "slots/modem/hdlc_interface.h"

// glibc's interface records first: <linux/if.h> then leaves them alone.
#include <net/if.h>
#include <linux/if.h>
#include <linux/hdlc/ioctl.h>
#include <linux/sockios.h>
#include <sys/socket.h>

#include <cstring>

#include "foundation/board_io.h"

namespace {

constexpr std::size_t kIfaceBuffer = 128;
constexpr std::size_t kTimeslotsAt = 12;

ifreq request_for(std::string const& name) {
  ifreq request{};
  std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
  return request;
}

}  // namespace

HdlcInterface::HdlcInterface() : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}

int HdlcInterface::index(std::string const& name) {
  ifreq request = request_for(name);
  return Board::io().ioctl(m_socket.lowlevel_fd(), SIOCGIFINDEX, &request) < 0 ? -1 : 0;
}

int HdlcInterface::flags(std::string const& name, short& flags) {
  ifreq request = request_for(name);
  if (Board::io().ioctl(m_socket.lowlevel_fd(), SIOCGIFFLAGS, &request) < 0) return -1;
  flags = request.ifr_flags;
  return 0;
}

int HdlcInterface::set_flags(std::string const& name, short flags) {
  ifreq request = request_for(name);
  request.ifr_flags = flags;
  return Board::io().ioctl(m_socket.lowlevel_fd(), SIOCSIFFLAGS, &request) < 0 ? -1 : 0;
}

int HdlcInterface::timeslots(std::string const& name, std::uint32_t& map) {
  alignas(te1_settings) unsigned char settings[kIfaceBuffer] = {};
  if (wan(name, IF_GET_IFACE, settings, sizeof settings) != 0) return -1;
  std::memcpy(&map, settings + kTimeslotsAt, sizeof map);
  return 0;
}

int HdlcInterface::set_ppp(std::string const& name) {
  std::uint32_t none = 0;
  return wan(name, IF_PROTO_PPP, &none, sizeof none);
}

int HdlcInterface::set_raw_hdlc(std::string const& name) {
  raw_hdlc_proto defaults{};
  return wan(name, IF_PROTO_HDLC, &defaults, sizeof defaults);
}

int HdlcInterface::wan(std::string const& name, unsigned type, void* settings, unsigned size) {
  ifreq request = request_for(name);
  if_settings wanted{};
  wanted.type = type;
  wanted.size = size;
  wanted.ifs_ifsu.te1 = static_cast<te1_settings*>(settings);
  // glibc's ifreq has no settings member: they sit at the start of its union, where the
  // driver reads them.
  static_assert(sizeof wanted <= sizeof request.ifr_ifru);
  std::memcpy(&request.ifr_ifru, &wanted, sizeof wanted);
  return Board::io().ioctl(m_socket.lowlevel_fd(), SIOCWANDEV, &request) < 0 ? -1 : 0;
}
