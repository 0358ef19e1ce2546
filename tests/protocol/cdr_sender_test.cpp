// The CDR sender against a real UDP listener on loopback, which notes the destination
// address of each datagram so that the order of destinations shows.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include "foundation/fd.h"
#include "protocol/cdr_sender.h"
#include "tests/protocol/link_harness.h"

namespace {

struct Datagram {
  std::string to;  // destination address as dotted text
  std::string bytes;
  bool operator==(Datagram const&) const = default;
};

std::ostream& operator<<(std::ostream& os, Datagram const& d) { return os << d.to << " \"" << d.bytes << "\""; }

// Bound to every local address, so that a datagram sent to 0.0.0.0 would arrive too.
class Listener {
public:
  Listener() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    int const on = 1;
    ::setsockopt(m_fd.lowlevel_fd(), IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    EXPECT_EQ(::bind(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
  }
  // Everything that arrives within `wait_ms` of the last datagram.
  std::vector<Datagram> received(int wait_ms = 200) {
    std::vector<Datagram> out;
    for (;;) {
      pollfd p{m_fd.lowlevel_fd(), POLLIN, 0};
      if (::poll(&p, 1, wait_ms) <= 0) return out;
      char data[70000];
      char control[256];
      iovec piece{data, sizeof data};
      msghdr m{};
      m.msg_iov = &piece;
      m.msg_iovlen = 1;
      m.msg_control = control;
      m.msg_controllen = sizeof control;
      ssize_t const n = ::recvmsg(m_fd.lowlevel_fd(), &m, 0);
      if (n < 0) return out;
      Datagram d{"?", std::string(data, static_cast<std::size_t>(n))};
      for (cmsghdr* c = CMSG_FIRSTHDR(&m); c; c = CMSG_NXTHDR(&m, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        char text[INET_ADDRSTRLEN];
        d.to = ::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text);
      }
      out.push_back(d);
    }
  }
  int port = 0;

private:
  Fd m_fd;
};

TEST(CdrSender, EachDestinationGetsTheWholeRecordInTheOrderWritten) {
  Listener listener;
  std::string const p = std::to_string(listener.port);
  CDR_Sender::Sender sender;
  std::string record = "call 17 from 100 to 200, 35 s";
  EXPECT_TRUE(sender.SendTo(record, "  127.0.0.2:" + p + " \t\n 127.0.0.1:" + p + "\n\n127.0.0.3:" + p + " "));
  EXPECT_EQ(listener.received(), (std::vector<Datagram>{{"127.0.0.2", record}, {"127.0.0.1", record}, {"127.0.0.3", record}}));
  EXPECT_EQ(record, "call 17 from 100 to 200, 35 s");

  std::string empty;
  EXPECT_TRUE(sender.SendTo(empty, "127.0.0.1:" + p));
  EXPECT_EQ(listener.received(), (std::vector<Datagram>{{"127.0.0.1", ""}}));
  EXPECT_TRUE(sender.SendTo(record, ""));
  EXPECT_TRUE(sender.SendTo(record, " \t\n"));
  EXPECT_TRUE(listener.received().empty());
}

TEST(CdrSender, WordsThatAreNoAddressAreSkippedAndNeverSentToTheAnyAddress) {
  test::StreamCapture streams;
  Listener listener;
  std::string const p = std::to_string(listener.port);
  CDR_Sender::Sender sender;
  std::string record = "call 18";
  EXPECT_TRUE(sender.SendTo(record, "billing.example:" + p + " 127.0.0.1:99999 127.0.0.1:" + p + " 127.1.2:x"));
  EXPECT_EQ(listener.received(), (std::vector<Datagram>{{"127.0.0.1", record}}));
  EXPECT_EQ(streams.err(), "cdr: bad destination billing.example:" + p +
                               "\ncdr: bad destination 127.0.0.1:99999\ncdr: bad destination 127.1.2:x\n");
}

TEST(CdrSender, LargeRecordTravelsWhole) {
  Listener listener;
  CDR_Sender::Sender sender;
  std::string record(60000, 'r');
  record.front() = '<';
  record.back() = '>';
  EXPECT_TRUE(sender.SendTo(record, "127.0.0.1:" + std::to_string(listener.port)));
  EXPECT_EQ(listener.received(), (std::vector<Datagram>{{"127.0.0.1", record}}));
}

}  // namespace
