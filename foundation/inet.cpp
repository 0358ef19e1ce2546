#include "foundation/inet.h"

#include <arpa/inet.h>
#include <charconv>
#include <cstring>
#include <net/if.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "foundation/fd.h"

namespace INet4 {

Addr::Addr(std::string const& text) {
  Reset();
  Assign(text, nullptr);
}

Addr& Addr::operator=(std::string const& text) {
  Assign(text, nullptr);
  return *this;
}

void Addr::Reset() {
  std::memset(&m_sa, 0, sizeof m_sa);
  m_sa.sin_family = AF_INET;
}

bool Addr::Assign(char const* text, int* port) {
  char const* const colon = std::strchr(text, ':');
  if (!colon) {
    if (port) *port = -1;
    in_addr a;
    if (!::inet_aton(text, &a)) return false;
    m_sa.sin_addr = a;
    return true;
  }
  char const* const digits = colon + 1;
  char const* const end = digits + std::strlen(digits);
  unsigned value = 0;
  auto const [stop, error] = std::from_chars(digits, end, value);
  if (error != std::errc() || stop != end || value > 65535) return false;
  // The port is taken even when the address then turns out bad.
  m_sa.sin_port = htons(static_cast<std::uint16_t>(value));
  if (port) *port = static_cast<int>(value);
  std::string const host(text, colon);
  in_addr a;
  if (!::inet_aton(host.c_str(), &a)) return false;
  m_sa.sin_addr = a;
  return true;
}

bool Addr::Assign(std::string const& text, int* port) { return Assign(text.c_str(), port); }

void Addr::Assign(unsigned long a) { m_sa.sin_addr.s_addr = static_cast<in_addr_t>(a); }

unsigned short Addr::port() const { return ntohs(m_sa.sin_port); }

void Addr::port(unsigned short p) { m_sa.sin_port = htons(p); }

char const* Addr::GetStrAddr() const { return ::inet_ntoa(m_sa.sin_addr); }

std::string Addr::GetString() const {
  char text[INET_ADDRSTRLEN];
  ::inet_ntop(AF_INET, &m_sa.sin_addr, text, sizeof text);
  return std::string(text) + ':' + std::to_string(port());
}

std::vector<unsigned char> Addr::GetVector() const {
  auto const* bytes = reinterpret_cast<unsigned char const*>(&m_sa.sin_addr.s_addr);
  return {bytes, bytes + 4};
}

void Addr::Put(std::ostream& os) const { os << GetString(); }

bool Addr::IsEqual(Addr const& other) const {
  return m_sa.sin_addr.s_addr == other.m_sa.sin_addr.s_addr && m_sa.sin_port == other.m_sa.sin_port;
}

std::ostream& operator<<(std::ostream& os, Addr const& a) {
  a.Put(os);
  return os;
}

}  // namespace INet4

namespace Net {

std::string hostname() {
  char name[512];
  if (::gethostname(name, sizeof name) != 0) return {};
  name[sizeof name - 1] = '\0';
  return name;
}

int hostname(std::string const& name) { return ::sethostname(name.data(), name.size()); }

bool ifconfig_keeps(ifconfig_mode_t mode, std::string_view name, std::uint32_t addr) {
  if (mode == 0) return true;
  bool const loopback = name.size() == 2 && (name[0] | 0x20) == 'l' && (name[1] | 0x20) == 'o';
  bool const link_local = (addr & 0xFFFF0000u) == 0xA9FE0000u;
  bool const private_range = (addr & 0xFF000000u) == 0x0A000000u || (addr & 0xFFF00000u) == 0xAC100000u ||
                             (addr & 0xFFFF0000u) == 0xC0A80000u;
  return ((mode & kNotLoopback) && !loopback) || ((mode & kLinkLocal) && link_local) ||
         ((mode & kPrivate) && private_range);
}

namespace {

// Hosts with many aliases would be cut short at the 16 records the board reads, so the
// list buffer grows until the kernel leaves room to spare (up to this many records).
constexpr std::size_t kMaxRecords = 4096;

// Runs append(socket, record) on each selected IPv4 interface once SIOCGIFADDR has
// refreshed it; returns how many append accepted, or -1.
template <class Append>
int scan(ifconfig_mode_t mode, Append append) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
  if (!sock) return -1;
  std::vector<ifreq> records(16);
  ifconf conf{};
  for (;;) {
    int const capacity = static_cast<int>(records.size() * sizeof(ifreq));
    conf.ifc_len = capacity;
    conf.ifc_req = records.data();
    if (::ioctl(sock.lowlevel_fd(), SIOCGIFCONF, &conf) != 0) return -1;
    if (conf.ifc_len < capacity || records.size() >= kMaxRecords) break;
    records.assign(records.size() * 2, ifreq{});
  }
  int count = 0;
  std::size_t const n = static_cast<std::size_t>(conf.ifc_len) / sizeof(ifreq);
  for (std::size_t i = 0; i < n; ++i) {
    ifreq record = records[i];
    if (record.ifr_addr.sa_family != AF_INET) continue;
    sockaddr_in sin;
    std::memcpy(&sin, &record.ifr_addr, sizeof sin);
    std::string_view const name(record.ifr_name, ::strnlen(record.ifr_name, IFNAMSIZ));
    if (!ifconfig_keeps(mode, name, ntohl(sin.sin_addr.s_addr))) continue;
    if (::ioctl(sock.lowlevel_fd(), SIOCGIFADDR, &record) != 0) continue;
    if (append(sock.lowlevel_fd(), record)) ++count;
  }
  return count;
}

}  // namespace

int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode) {
  return scan(mode, [&out](int, ifreq const& record) {
    sockaddr_in sin;
    std::memcpy(&sin, &record.ifr_addr, sizeof sin);
    INet4::Addr a;
    a.Assign(sin.sin_addr.s_addr);
    out.push_back(a);
    return true;
  });
}

int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags) {
  return scan(mode, [&out, flags](int sock, ifreq const& record) {
    ifreq query = record;
    if (::ioctl(sock, SIOCGIFFLAGS, &query) != 0) return false;
    unsigned const have = static_cast<unsigned short>(query.ifr_flags);
    if ((have & flags) != flags) return false;
    out.emplace_back(record.ifr_name, ::strnlen(record.ifr_name, IFNAMSIZ));
    return true;
  });
}

}  // namespace Net
