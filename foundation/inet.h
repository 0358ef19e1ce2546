#pragma once
// IPv4 socket addresses and the host's interface and host-name queries.

#include <cstdint>
#include <list>
#include <netinet/in.h>
#include <ostream>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <vector>

namespace INet4 {

// Exactly a sockaddr_in, so it goes to bind/connect/accept/sendto as it is.
class Addr {
public:
  Addr() { Reset(); }
  Addr(Addr const&) = default;
  explicit Addr(sockaddr_in const& sa) : m_sa(sa) {}
  explicit Addr(std::string const& text);
  Addr& operator=(Addr const&) = default;
  // Keeps the current port when the text names none.
  Addr& operator=(std::string const& text);

  void Reset();
  // "a.b.c.d" or "a.b.c.d:port"; host names are not resolved. *port gets the port
  // given, or -1 when the text has none. A port outside 0..65535 or not a plain
  // decimal number makes it fail without changing anything; a bad address fails
  // after the port has been taken.
  bool Assign(char const* text, int* port);
  bool Assign(std::string const& text, int* port);
  // The address word, already in network order.
  void Assign(unsigned long a);

  unsigned short port() const;
  void port(unsigned short p);

  // Dotted address in the C library's static buffer (valid until the next call).
  char const* GetStrAddr() const;
  std::string GetString() const;
  std::vector<unsigned char> GetVector() const;
  void Put(std::ostream& os) const;

  // Address and port; family and padding are not compared.
  bool IsEqual(Addr const& other) const;
  bool operator==(Addr const& other) const { return IsEqual(other); }

  static constexpr socklen_t size() { return sizeof(sockaddr_in); }
  operator sockaddr*() { return reinterpret_cast<sockaddr*>(&m_sa); }
  operator sockaddr const*() const { return reinterpret_cast<sockaddr const*>(&m_sa); }

private:
  sockaddr_in m_sa;
};

static_assert(sizeof(Addr) == 16);

std::ostream& operator<<(std::ostream& os, Addr const& a);

}  // namespace INet4

namespace Net {

// Which IPv4 interfaces ifconfig reports: any matching bit keeps one, 0 keeps all.
using ifconfig_mode_t = unsigned;
inline constexpr ifconfig_mode_t kNotLoopback = 1;  // name other than "lo", any case
inline constexpr ifconfig_mode_t kLinkLocal = 2;    // 169.254.0.0/16
inline constexpr ifconfig_mode_t kPrivate = 4;      // 10/8, 172.16/12, 192.168/16

std::string hostname();
int hostname(std::string const& name);

// Append the selected interfaces' addresses (port 0) or names; the name form also
// wants every bit of flags in the interface flags. Return the number appended, or -1
// when the interface list cannot be read.
int ifconfig(std::list<INet4::Addr>& out, ifconfig_mode_t mode);
int ifconfig(std::list<std::string>& out, ifconfig_mode_t mode, unsigned flags);

// The selection rule of ifconfig; the address in host order.
bool ifconfig_keeps(ifconfig_mode_t mode, std::string_view name, std::uint32_t addr);

}  // namespace Net
