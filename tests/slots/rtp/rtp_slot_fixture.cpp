#include "tests/slots/rtp/rtp_slot_fixture.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>

#include <sstream>

#include "boardsim/control.h"
#include "server/start_up/slot_factories.h"
#include "tests/support/switch_board.h"

namespace rtp_test {

Peer::Peer(bool reuse, int port) : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
  EXPECT_TRUE(m_fd) << Errno();
  int const on = 1;
  if (reuse) ::setsockopt(m_fd.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  EXPECT_EQ(::bind(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << Errno();
  socklen_t size = sizeof address;
  EXPECT_EQ(::getsockname(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  m_port = ntohs(address.sin_port);
}

std::optional<std::string> Peer::receive(int wait_ms, int* from) {
  pollfd record{m_fd.lowlevel_fd(), POLLIN, 0};
  if (::poll(&record, 1, wait_ms) != 1) return std::nullopt;
  char buf[2048];
  sockaddr_in source{};
  socklen_t size = sizeof source;
  ssize_t const got =
      ::recvfrom(m_fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&source), &size);
  if (got < 0) return std::nullopt;
  if (from) *from = ntohs(source.sin_port);
  return std::string(buf, static_cast<std::size_t>(got));
}

int free_udp_port() {
  Fd probe(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  EXPECT_EQ(::bind(probe.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << Errno();
  socklen_t size = sizeof address;
  ::getsockname(probe.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), &size);
  return ntohs(address.sin_port);
}

RtpSlotTest::RtpSlotTest() { MakeSlotFactories(); }

RtpSlotTest::~RtpSlotTest() = default;

std::vector<LGCP::Message> RtpSlotTest::create(int seq, int slot, RtpCreate const& c) {
  return command(seq, slot, [&](LGCP::Command& command) { command.select_create(create_params(c)); });
}

std::vector<LGCP::Message> RtpSlotTest::ioctl(int seq, int slot, std::function<void(LGCP::IoctlParams&)> const& fill) {
  return command(seq, slot, [&](LGCP::Command& command) { fill(command.select_ioctl()); });
}

std::vector<LGCP::Message> RtpSlotTest::command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill) {
  return controller.exchange(test_server::command(seq, slot, fill));
}

std::vector<std::string> requests(std::string const& device, std::string const& name) {
  std::vector<std::string> lines;
  for (BoardSim::Request const& r : test::switch_board().requests(device, name)) {
    std::ostringstream text;
    text << r;
    lines.push_back(text.str().substr(text.str().find(' ') + 1));
  }
  return lines;
}

std::vector<std::string> stand_in(std::string const& line) {
  return BoardSim::control_command(test::switch_board(), line);
}

std::size_t descriptors() {
  std::size_t count = 0;
  if (DIR* const dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir)) ++count;
    ::closedir(dir);
  }
  return count;
}

LGCP::Signal const* signal_of(std::vector<LGCP::Message> const& got, int alternative) {
  for (LGCP::Message const& m : got)
    if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().currentSelection() == alternative)
      return &m.get_pdu().get_signal();
  return nullptr;
}

}  // namespace rtp_test
