#include "tests/protocol/link_harness.h"

#include <arpa/inet.h>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace test {

namespace {
sockaddr_in loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}
}  // namespace

std::string frame(std::string const& body) {
  std::size_t const length = body.size() + 4;
  std::string out = {'\x03', '\x00', static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)};
  return out + body;
}

Client::Client(int port, int receive_buffer) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
  if (receive_buffer)
    ::setsockopt(m_fd.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
  sockaddr_in a = loopback(port);
  m_connected = ::connect(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  int const on = 1;
  ::setsockopt(m_fd.lowlevel_fd(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

void Client::send_raw(std::string const& bytes) {
  ASSERT_EQ(::send(m_fd.lowlevel_fd(), bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
}

std::vector<std::string> Client::receive(std::size_t count, int wait_ms) {
  std::vector<std::string> bodies;
  auto take_frames = [&] {
    while (m_pending.size() >= 4) {
      std::size_t const length = (std::uint8_t(m_pending[2]) << 8) | std::uint8_t(m_pending[3]);
      EXPECT_EQ(m_pending.substr(0, 2), std::string("\x03\x00", 2)) << "not a TPKT frame";
      if (length < 4 || m_pending.size() < length) return;
      bodies.push_back(m_pending.substr(4, length - 4));
      m_pending.erase(0, length);
    }
  };
  take_frames();
  while (bodies.size() < count) {
    pollfd p{m_fd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) break;
    char buf[65536];
    ssize_t const n = ::recv(m_fd.lowlevel_fd(), buf, sizeof buf, 0);
    if (n <= 0) break;
    m_pending.append(buf, static_cast<std::size_t>(n));
    take_frames();
  }
  return bodies;
}

bool Client::sees_close(int wait_ms) {
  for (;;) {
    pollfd p{m_fd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0) return false;
    char buf[65536];
    ssize_t const n = ::recv(m_fd.lowlevel_fd(), buf, sizeof buf, 0);
    if (n <= 0) return true;
  }
}

bool Client::delivered(int wait_ms) {
  for (int waited = 0;; ++waited) {
    int queued = 0;
    if (::ioctl(m_fd.lowlevel_fd(), TIOCOUTQ, &queued) != 0) return false;
    if (queued == 0) return true;
    if (waited >= wait_ms) return false;
    ::usleep(1000);
  }
}

bool run_until(std::function<bool()> done, unsigned limit_ms) {
  struct Checker {
    std::function<bool()> done;
    Dpc dpc;
    void check() {
      if (done()) multiplexer.terminate();
    }
  } checker{done, {}};
  checker.dpc.Bind(&checker, &Checker::check);
  checker.dpc.Activate();
  StopAfter stop(limit_ms);
  multiplexer.run(false, true);
  return done();
}

bool run_real_until(std::function<bool()> done, unsigned limit_ms) {
  struct Tick {
    Timer timer;
    void fire() { timer.set(5, &Tick::fire, this); }
  } tick;
  tick.fire();
  return run_until(std::move(done), limit_ms);
}

StreamCapture::StreamCapture()
    : m_saved_out(std::cout.rdbuf(m_out.rdbuf())),
      m_saved_err(std::cerr.rdbuf(m_err.rdbuf())),
      m_saved_log(std::clog.rdbuf(m_log.rdbuf())) {}

StreamCapture::~StreamCapture() {
  std::cout.rdbuf(m_saved_out);
  std::cerr.rdbuf(m_saved_err);
  std::clog.rdbuf(m_saved_log);
}

}  // namespace test
