// The network interfaces' model: requests on a socket of the caller's, logged under
// "/dev/net", played for the interfaces the test names and handed to the kernel for the
// others. Each test runs in a child with a network namespace of its own holding tun
// devices.

#include "boardsim/net.h"

// glibc's interface records first: <linux/if.h> then leaves them alone.
#include <net/if.h>
#include <linux/if.h>
#include <linux/hdlc/ioctl.h>
#include <linux/sockios.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include "boardsim/control.h"
#include "boardsim/sim.h"
#include "foundation/fd.h"
#include "tests/support/board_fixture.h"
#include "tests/support/fake_clock.h"
#include "tests/support/own_process.h"
#include "tests/support/private_network.h"

namespace {

// In a child of its own, in a network namespace holding tun devices hdlc0 and hdlc1.
std::string with_interfaces(std::function<std::string()> const& body) {
  return test::in_own_process([&]() -> std::string {
    if (std::string const failed = test::enter_private_network(); !failed.empty()) return failed;
    for (char const* name : {"hdlc0", "hdlc1"})
      if (std::string const failed = test::make_tun(name); !failed.empty()) return failed;
    return body();
  });
}

struct NetBoard {
  test::FakeClock clock;
  BoardSim::Sim sim;
  BoardSim::Net& net = sim.add<BoardSim::Net>();
  Fd socket{::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)};

  std::string control(std::string const& line) {
    std::string text;
    for (std::string const& answer : BoardSim::control_command(sim, line)) text += answer + "\n";
    return text;
  }
  // The log under /dev/net without times, and cleared.
  std::string logged() {
    std::string text;
    for (auto const& entry : sim.requests("/dev/net")) {
      std::ostringstream line;
      line << entry;
      text += line.str().substr(line.str().find(' ') + 1) + "\n";
    }
    sim.clear_requests();
    return text;
  }
  // SIOCWANDEV with settings of `type` at `settings`; 0 or -errno. The settings
  // member comes back in *back.
  int wan(char const* name, unsigned type, void* settings, unsigned size, if_settings* back = nullptr) {
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    if_settings wanted{};
    wanted.type = type;
    wanted.size = size;
    wanted.ifs_ifsu.te1 = static_cast<te1_settings*>(settings);
    std::memcpy(&request.ifr_ifru, &wanted, sizeof wanted);
    int const result = sim.ioctl(socket.lowlevel_fd(), SIOCWANDEV, &request);
    if (back) std::memcpy(back, &request.ifr_ifru, sizeof *back);
    return result < 0 ? -errno : result;
  }
  int flags(char const* name, unsigned long code, short& flags) {
    ifreq request{};
    std::strncpy(request.ifr_name, name, IFNAMSIZ - 1);
    request.ifr_flags = flags;
    int const result = sim.ioctl(socket.lowlevel_fd(), code, &request);
    flags = request.ifr_flags;
    return result < 0 ? -errno : result;
  }
};

TEST(NetModel, PlayedInterfacesAnswerAsE1AndTheOthersReachTheKernel) {
  EXPECT_EQ(with_interfaces([] {
              test::Failures f;
              NetBoard b;
              test::DiagCapture diag;
              unsigned char e1[128];
              std::memset(e1, 0xAA, sizeof e1);
              if_settings back{};
              f.equal(b.wan("hdlc0", IF_GET_IFACE, e1, sizeof e1), -EOPNOTSUPP, "a tun knows no HDLC settings");
              f.equal(b.control("set net hdlc0 slotmap 4608"), "ok\n", "play hdlc0");
              f.equal(b.wan("hdlc0", IF_GET_IFACE, e1, sizeof e1, &back), 0, "the settings of a played one");
              std::uint32_t map = 0;
              std::memcpy(&map, e1 + 12, sizeof map);
              f.equal(map, 4608u, "the slot map at bytes 12-15");
              f.check(std::all_of(e1, e1 + 12, [](unsigned char c) { return c == 0; }), "zeros before it");
              f.equal(e1[16] + 0, 0xAA, "nothing past 16 bytes");
              f.check(back.type == IF_IFACE_E1 && back.size == 16, "type E1, size 16 written back");
              f.equal(b.wan("hdlc0", IF_GET_IFACE, e1, 15), -ENOBUFS, "15 bytes are too few");

              std::uint32_t none = 0;
              f.equal(b.wan("hdlc0", IF_PROTO_PPP, &none, 4), 0, "PPP framing");
              f.equal(b.control("state net hdlc0"), "slotmap=4608 proto=ppp encoding=0 parity=0\nok\n", "in PPP");
              f.equal(b.wan("hdlc0", IF_PROTO_PPP, &none, 8), -EINVAL, "PPP settings of 8 bytes");
              raw_hdlc_proto raw{5, 2};
              f.equal(b.wan("hdlc0", IF_PROTO_HDLC, &raw, sizeof raw), 0, "raw HDLC");
              f.equal(b.control("state net hdlc0"), "slotmap=4608 proto=hdlc encoding=5 parity=2\nok\n",
                      "encoding and parity kept");
              f.equal(b.wan("hdlc0", IF_PROTO_HDLC, nullptr, 4), -EFAULT, "no settings");
              f.equal(b.wan("hdlc0", 0x2005, &none, 4), -EINVAL, "another protocol");
              f.equal(b.wan("hdlc1", IF_PROTO_PPP, &none, 4), -EOPNOTSUPP, "hdlc1 is not played");
              f.equal(b.logged(),
                      "/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc0 type=0x1 size=128 -> EOPNOTSUPP\n"
                      "/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc0 type=0x1 size=128\n"
                      "/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc0 type=0x1 size=15 -> ENOBUFS\n"
                      "/dev/net ioctl SIOCWANDEV/IF_PROTO_PPP if=hdlc0 type=0x2001 size=4\n"
                      "/dev/net ioctl SIOCWANDEV/IF_PROTO_PPP if=hdlc0 type=0x2001 size=8 -> EINVAL\n"
                      "/dev/net ioctl SIOCWANDEV/IF_PROTO_HDLC if=hdlc0 type=0x2000 size=4\n"
                      "/dev/net ioctl SIOCWANDEV/IF_PROTO_HDLC if=hdlc0 type=0x2000 size=4 -> EFAULT\n"
                      "/dev/net ioctl SIOCWANDEV if=hdlc0 type=0x2005 size=4 -> EINVAL\n"
                      "/dev/net ioctl SIOCWANDEV/IF_PROTO_PPP if=hdlc1 type=0x2001 size=4 -> EOPNOTSUPP\n",
                      "each logged with its interface, type and size");
              f.check(diag.text().find("EOPNOTSUPP") == std::string::npos,
                      "the kernel's refusals are no stand-in lines: " + diag.text());
              f.check(diag.text().find("size=15 -> ENOBUFS") != std::string::npos, "the model's are");

              f.equal(b.control("set net hdlc0 off"), "ok\n", "stop playing hdlc0");
              f.equal(b.wan("hdlc0", IF_GET_IFACE, e1, sizeof e1), -EOPNOTSUPP, "the kernel again");
              f.equal(b.control("state net hdlc0"), "error net does not play hdlc0\n", "no state");
              return f.result();
            }),
            "");
}

TEST(NetModel, FlagsAndIndexGoToTheKernelLoggedAndFaultsHitEachByName) {
  EXPECT_EQ(with_interfaces([] {
              test::Failures f;
              NetBoard b;
              test::DiagCapture diag;
              short flags = 0;
              f.equal(b.flags("hdlc1", SIOCGIFFLAGS, flags), 0, "flags of hdlc1");
              f.check((flags & IFF_UP) && (flags & IFF_POINTOPOINT), "up, point-to-point");
              flags = static_cast<short>(flags & ~IFF_UP);
              short const written = flags;
              f.equal(b.flags("hdlc1", SIOCSIFFLAGS, flags), 0, "down");
              f.equal(test::interface_flags("hdlc1") & IFF_UP, 0, "the kernel took it down");
              f.equal(b.flags("hdlc9", SIOCGIFINDEX, flags), -ENODEV, "no hdlc9");
              char text[80];
              std::snprintf(text, sizeof text, "/dev/net ioctl SIOCSIFFLAGS if=hdlc1 flags=0x%x\n",
                            static_cast<unsigned short>(written));
              f.equal(b.logged(),
                      std::string("/dev/net ioctl SIOCGIFFLAGS if=hdlc1\n") + text +
                          "/dev/net ioctl SIOCGIFINDEX if=hdlc9 -> ENODEV\n",
                      "logged");

              // Requests that are no interface's pass unlogged.
              int queued = -1;
              f.equal(b.sim.ioctl(b.socket.lowlevel_fd(), FIONREAD, &queued), 0, "FIONREAD");
              f.equal(b.logged(), "", "not logged");

              f.equal(b.control("set net hdlc0 slotmap 1"), "ok\n", "play hdlc0");
              f.equal(b.control("fail net ioctl SIOCWANDEV/IF_PROTO_PPP EIO once"), "ok\n", "arm a fault");
              unsigned char e1[128];
              std::uint32_t none = 0;
              f.equal(b.wan("hdlc0", IF_GET_IFACE, e1, sizeof e1), 0, "IF_GET_IFACE is another request");
              f.equal(b.wan("hdlc0", IF_PROTO_PPP, &none, 4), -EIO, "the fault");
              f.equal(b.wan("hdlc0", IF_PROTO_PPP, &none, 4), 0, "once");
              f.equal(b.control("state net hdlc0"), "slotmap=1 proto=ppp encoding=0 parity=0\nok\n", "then PPP");
              f.equal(b.control("fail net ioctl SIOCGIFFLAGS ENXIO once"), "ok\n", "a fault on a kernel request");
              f.equal(b.flags("hdlc1", SIOCGIFFLAGS, flags), -ENXIO, "it fails before the kernel");

              f.equal(b.sim.open("/dev/net", O_RDWR), -1, "nothing opens the path");
              for (char const* bad : {"set net hdlc0", "set net hdlc0 slotmap", "set net hdlc0 slotmap x",
                                      "set net 0123456789abcdef slotmap 1", "set net hdlc0 on", "state net"})
                f.check(b.control(bad).starts_with("error usage: "), std::string(bad) + ": " + b.control(bad));
              return f.result();
            }),
            "");
}

}  // namespace
