#include "boardsim/net.h"

// glibc's interface records first: <linux/if.h> then leaves them alone.
#include <net/if.h>
#include <linux/if.h>
#include <linux/sockios.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "boardsim/request_log.h"

namespace BoardSim {

namespace {

constexpr char kPath[] = "/dev/net";
constexpr std::uint32_t kE1Size = 16;
constexpr std::size_t kSlotMapAt = 12;
constexpr std::uint32_t kProtoSize = 4;

std::string hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

ifreq request_at(void const* arg) {
  ifreq request;
  std::memcpy(&request, arg, sizeof request);
  return request;
}

std::string name_of(ifreq const& request) { return {request.ifr_name, ::strnlen(request.ifr_name, IFNAMSIZ)}; }

if_settings settings_of(ifreq const& request) {
  if_settings settings;
  std::memcpy(&settings, &request.ifr_ifru, sizeof settings);
  return settings;
}

char const* wan_name(unsigned type) {
  switch (type) {
    case IF_GET_IFACE: return "ioctl SIOCWANDEV/IF_GET_IFACE";
    case IF_PROTO_PPP: return "ioctl SIOCWANDEV/IF_PROTO_PPP";
    case IF_PROTO_HDLC: return "ioctl SIOCWANDEV/IF_PROTO_HDLC";
    default: return "ioctl SIOCWANDEV";
  }
}

bool is_interface_name(std::string const& word) { return !word.empty() && word.size() < IFNAMSIZ; }

}  // namespace

Net::Net() : Model(kPath) {}

// Interfaces are reached through sockets, never through this path.
int Net::open(Open&, int) { return ENODEV; }

std::optional<Net::Interface> Net::played(std::string const& name) const {
  auto const held = lock();
  auto const found = m_played.find(name);
  if (found == m_played.end()) return std::nullopt;
  return found->second;
}

bool Net::foreign_request(unsigned long request, void const* arg, Request& entry) const {
  if (!arg) return false;
  switch (request) {
    case SIOCGIFINDEX: entry.name = "ioctl SIOCGIFINDEX"; break;
    case SIOCGIFFLAGS: entry.name = "ioctl SIOCGIFFLAGS"; break;
    case SIOCSIFFLAGS: entry.name = "ioctl SIOCSIFFLAGS"; break;
    case SIOCWANDEV: break;
    default: return false;
  }
  ifreq const r = request_at(arg);
  entry.fields = "if=" + name_of(r);
  if (request == SIOCSIFFLAGS) entry.fields += " flags=" + hex(static_cast<unsigned short>(r.ifr_flags));
  if (request == SIOCWANDEV) {
    if_settings const settings = settings_of(r);
    entry.name = wan_name(settings.type);
    entry.fields += " type=" + hex(settings.type) + " size=" + std::to_string(settings.size);
  }
  return true;
}

int Net::foreign_ioctl(unsigned long request, void* arg) {
  if (request != SIOCWANDEV) return kSystem;
  ifreq r = request_at(arg);
  auto const found = m_played.find(name_of(r));
  if (found == m_played.end()) return kSystem;
  Interface& played = found->second;
  if_settings settings = settings_of(r);
  void* const data = settings.ifs_ifsu.te1;
  switch (settings.type) {
    case IF_GET_IFACE: {
      if (settings.size < kE1Size) return ENOBUFS;
      if (!data) return EFAULT;
      unsigned char e1[kE1Size] = {};
      std::memcpy(e1 + kSlotMapAt, &played.slot_map, sizeof played.slot_map);
      std::memcpy(data, e1, sizeof e1);
      settings.type = IF_IFACE_E1;
      settings.size = kE1Size;
      std::memcpy(&r.ifr_ifru, &settings, sizeof settings);
      std::memcpy(arg, &r, sizeof r);
      return 0;
    }
    case IF_PROTO_PPP:
      if (settings.size != kProtoSize) return EINVAL;
      played.ppp = true;
      return 0;
    case IF_PROTO_HDLC: {
      if (settings.size != kProtoSize) return EINVAL;
      if (!data) return EFAULT;
      std::uint16_t words[2];
      std::memcpy(words, data, sizeof words);
      played.ppp = false;
      played.encoding = words[0];
      played.parity = words[1];
      return 0;
    }
    default: return EINVAL;
  }
}

Model::Answer Net::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    if (args.size() != 1) return {{}, "usage: state net <interface>"};
    auto const found = m_played.find(args[0]);
    if (found == m_played.end()) return {{}, "net does not play " + args[0]};
    Interface const& i = found->second;
    return {{"slotmap=" + std::to_string(i.slot_map) + " proto=" + (i.ppp ? "ppp" : "hdlc") +
             " encoding=" + std::to_string(i.encoding) + " parity=" + std::to_string(i.parity)},
            {}};
  }
  if (verb == "set") {
    char const* const usage = "usage: set net <interface> slotmap <word> | set net <interface> off";
    if (args.empty() || !is_interface_name(args[0])) return {{}, usage};
    if (args.size() == 2 && args[1] == "off") {
      m_played.erase(args[0]);
      return {};
    }
    auto const map = args.size() == 3 && args[1] == "slotmap" ? number(args[2]) : std::nullopt;
    if (!map) return {{}, usage};
    m_played[args[0]] = Interface{*map, false, 0, 0};
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
