#include "foundation/inet.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "foundation/fd.h"
#include "tests/support/private_mounts.h"

namespace {

std::string text_of(INet4::Addr const& a) {
  std::ostringstream os;
  os << a;
  return os.str();
}

TEST(INet4Addr, DefaultIsAnIpv4SockaddrOfZeroes) {
  INet4::Addr a;
  EXPECT_EQ(text_of(a), "0.0.0.0:0");
  EXPECT_EQ(INet4::Addr::size(), 16u);
  sockaddr const* sa = a;
  EXPECT_EQ(sa->sa_family, AF_INET);
}

TEST(INet4Addr, AssignTakesAddressAndPort) {
  INet4::Addr a;
  int port = 0;
  ASSERT_TRUE(a.Assign("10.1.2.3:20001", &port));
  EXPECT_STREQ(a.GetStrAddr(), "10.1.2.3");
  EXPECT_EQ(a.port(), 20001);
  EXPECT_EQ(port, 20001);
  EXPECT_EQ(a.GetVector(), (std::vector<unsigned char>{10, 1, 2, 3}));

  ASSERT_TRUE(a.Assign(std::string("10.9.8.7"), &port));
  EXPECT_EQ(port, -1);
  EXPECT_EQ(a.GetString(), "10.9.8.7:20001");

  ASSERT_TRUE(a.Assign("1.2.3.4:0", &port));
  EXPECT_EQ(port, 0);
  ASSERT_TRUE(a.Assign("1.2.3.4:65535", nullptr));
  EXPECT_EQ(a.port(), 65535);
}

TEST(INet4Addr, AssignRejectsHostNames) {
  INet4::Addr a;
  EXPECT_FALSE(a.Assign("host:1", nullptr));
  EXPECT_FALSE(a.Assign("host", nullptr));
  EXPECT_FALSE(a.Assign("", nullptr));
  EXPECT_EQ(text_of(a).substr(0, 8), "0.0.0.0:");
}

TEST(INet4Addr, AssignRejectsAPortThatIsNotANumberUpTo65535AndChangesNothing) {
  for (char const* text : {"1.2.3.4:", "1.2.3.4:x", "1.2.3.4:65536", "1.2.3.4:-1", "1.2.3.4: 80", "1.2.3.4:+80",
                           "1.2.3.4:80x", "1.2.3.4:99999999999999999999", "1.2.3.4:80:90"}) {
    SCOPED_TRACE(text);
    INet4::Addr a("9.9.9.9:99");
    int port = 12345;
    EXPECT_FALSE(a.Assign(text, &port));
    EXPECT_EQ(port, 12345);
    EXPECT_EQ(a.GetString(), "9.9.9.9:99");
  }
}

TEST(INet4Addr, ConstructionFromTextResetsAssignmentKeepsThePort) {
  INet4::Addr a("1.2.3.4:80");
  a = "5.6.7.8";
  EXPECT_EQ(a.GetString(), "5.6.7.8:80");
  EXPECT_EQ(INet4::Addr("5.6.7.8").GetString(), "5.6.7.8:0");
  a = "6.6.6.6:443";
  EXPECT_EQ(a.GetString(), "6.6.6.6:443");
}

TEST(INet4Addr, PrintsDottedAddressColonPort) {
  INet4::Addr a;
  a.Assign(htonl(0xC0A80001u));
  a.port(5060);
  EXPECT_EQ(text_of(a), "192.168.0.1:5060");
  EXPECT_EQ(a.GetString(), "192.168.0.1:5060");
}

TEST(INet4Addr, EqualityComparesAddressAndPortOnly) {
  sockaddr_in raw{};
  raw.sin_family = AF_UNIX;
  raw.sin_port = htons(7);
  raw.sin_addr.s_addr = htonl(0x7F000001u);
  std::fill(std::begin(raw.sin_zero), std::end(raw.sin_zero), 0x5A);
  INet4::Addr const odd(raw);
  EXPECT_TRUE(odd == INet4::Addr("127.0.0.1:7"));
  EXPECT_FALSE(odd == INet4::Addr("127.0.0.1:8"));
  EXPECT_FALSE(odd == INet4::Addr("127.0.0.2:7"));
}

TEST(INet4Addr, PassesAsSockaddrToTheSocketCalls) {
  Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
  ASSERT_TRUE(sock);
  INet4::Addr local("127.0.0.1:0");
  ASSERT_EQ(::bind(sock.lowlevel_fd(), local, INet4::Addr::size()), 0) << Errno();
  INet4::Addr bound;
  socklen_t len = INet4::Addr::size();
  ASSERT_EQ(::getsockname(sock.lowlevel_fd(), bound, &len), 0) << Errno();
  EXPECT_EQ(len, INet4::Addr::size());
  EXPECT_STREQ(bound.GetStrAddr(), "127.0.0.1");
  EXPECT_NE(bound.port(), 0);
}

struct Interface {
  char const* name;
  std::uint32_t addr;
};

std::vector<std::string> kept(Net::ifconfig_mode_t mode, std::vector<Interface> const& interfaces) {
  std::vector<std::string> names;
  for (Interface const& i : interfaces)
    if (Net::ifconfig_keeps(mode, i.name, i.addr)) names.push_back(i.name);
  return names;
}

using Names = std::vector<std::string>;

TEST(NetIfconfigKeeps, SelectsByModeBits) {
  std::vector<Interface> const board{{"lo", 0x7F000001}, {"eth0", 0xC0A80105}, {"eth1", 0x3E010101}};
  EXPECT_EQ(kept(4, board), (Names{"eth0"}));
  EXPECT_EQ(kept(1, board), (Names{"eth0", "eth1"}));
  EXPECT_EQ(kept(0, board), (Names{"lo", "eth0", "eth1"}));
  EXPECT_EQ(kept(3, {{"lo", 0xA9FE0304}}), (Names{"lo"}));
  EXPECT_EQ(kept(1, {{"LO", 0x0A000001}, {"Lo", 1}, {"lo0", 1}, {"l", 1}}), (Names{"lo0", "l"}));
}

TEST(NetIfconfigKeeps, RangeEdges) {
  EXPECT_EQ(kept(4, {{"a", 0x0A000000}, {"b", 0x0AFFFFFF}, {"c", 0x0B000000}, {"d", 0x09FFFFFF}}),
            (Names{"a", "b"}));
  EXPECT_EQ(kept(4, {{"a", 0xAC0FFFFF}, {"b", 0xAC100000}, {"c", 0xAC1FFFFF}, {"d", 0xAC200000}}),
            (Names{"b", "c"}));
  EXPECT_EQ(kept(4, {{"a", 0xC0A7FFFF}, {"b", 0xC0A80000}, {"c", 0xC0A8FFFF}, {"d", 0xC0A90000}}),
            (Names{"b", "c"}));
  EXPECT_EQ(kept(2, {{"a", 0xA9FDFFFF}, {"b", 0xA9FE0000}, {"c", 0xA9FEFFFF}, {"d", 0xA9FF0000}}),
            (Names{"b", "c"}));
  EXPECT_EQ(kept(4, {{"a", 0xA9FE0001}}), Names{});
  EXPECT_EQ(kept(2, {{"a", 0xC0A80001}}), Names{});
}

bool contains(std::list<INet4::Addr> const& list, char const* text) {
  return std::find(list.begin(), list.end(), INet4::Addr(text)) != list.end();
}

TEST(NetIfconfig, AllModeListsLoopbackAndAppends) {
  std::list<INet4::Addr> out{INet4::Addr("1.1.1.1:5")};
  int const n = Net::ifconfig(out, 0);
  ASSERT_GE(n, 1);
  EXPECT_EQ(out.size(), std::size_t(n) + 1);
  EXPECT_EQ(out.front().GetString(), "1.1.1.1:5");
  EXPECT_TRUE(contains(out, "127.0.0.1:0"));
}

TEST(NetIfconfig, NotLoopbackModeLeavesLoOut) {
  std::list<std::string> names;
  ASSERT_GE(Net::ifconfig(names, 0, IFF_UP | IFF_LOOPBACK), 1);
  EXPECT_NE(std::find(names.begin(), names.end(), "lo"), names.end());
  names.clear();
  ASSERT_GE(Net::ifconfig(names, 1, 0), 0);
  EXPECT_EQ(std::find(names.begin(), names.end(), "lo"), names.end());
  std::list<INet4::Addr> addrs;
  ASSERT_GE(Net::ifconfig(addrs, 1), 0);
  EXPECT_FALSE(contains(addrs, "127.0.0.1:0"));
}

TEST(NetIfconfig, NameFormWantsEveryFlagBit) {
  std::list<std::string> names;
  EXPECT_EQ(Net::ifconfig(names, 0, IFF_LOOPBACK | IFF_POINTOPOINT), 0);
  EXPECT_TRUE(names.empty());
}

// More addresses than the 16 records of a first query, made as aliases of lo in a
// network namespace of the test's own.
TEST(NetIfconfig, ReadsBeyondSixteenInterfaceRecords) {
  std::string const failure = test::in_private_mounts({}, []() -> std::string {
    if (::unshare(CLONE_NEWNET) != 0) return "unshare(CLONE_NEWNET) failed";
    Fd sock(::socket(AF_INET, SOCK_DGRAM, 0));
    for (int i = 1; i <= 40; ++i) {
      ifreq r{};
      std::snprintf(r.ifr_name, IFNAMSIZ, "lo:%d", i);
      sockaddr_in sin{};
      sin.sin_family = AF_INET;
      sin.sin_addr.s_addr = htonl(0x0A090000u + static_cast<unsigned>(i));
      std::memcpy(&r.ifr_addr, &sin, sizeof sin);
      if (::ioctl(sock.lowlevel_fd(), SIOCSIFADDR, &r) != 0) return "SIOCSIFADDR failed";
    }
    std::list<INet4::Addr> out;
    int const n = Net::ifconfig(out, 4);
    if (n != 40) return "expected 40 private addresses, got " + std::to_string(n);
    if (!contains(out, "10.9.0.1:0") || !contains(out, "10.9.0.40:0")) return "an alias is missing";
    std::list<std::string> names;
    Net::ifconfig(names, 1, 0);
    if (names.size() != 40 || names.back() != "lo:40") return "alias names not listed";
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(NetHostname, IsTheKernelsNodeName) {
  utsname u;
  ASSERT_EQ(::uname(&u), 0);
  EXPECT_EQ(Net::hostname(), u.nodename);
}

TEST(NetHostname, SetsTheNameInAPrivateUtsNamespace) {
  std::string const failure = test::in_private_mounts({}, []() -> std::string {
    if (::unshare(CLONE_NEWUTS) != 0) return "unshare(CLONE_NEWUTS) failed";
    if (Net::hostname("gw-test-host") != 0) return "sethostname failed";
    if (Net::hostname() != "gw-test-host") return "read back '" + Net::hostname() + "'";
    if (Net::hostname(std::string(65, 'x')) == 0) return "an over-long name was accepted";
    return {};
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
