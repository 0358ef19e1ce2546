// 16-byte controller messages through the control link (acceptor, socket stream, TPKT,
// a listener that echoes with Send), beside a bare poll/read/write echo of the same
// 20-byte frames over the same loopback TCP: the round trip of one message, and the rate
// of messages written back to back. The bare echo writes every frame back with a write
// of its own, as the link writes every Send.
//
// The daemon's side runs the real loop in a thread of its own, and every daemon object
// is made, used and destroyed in that thread; the benchmark's thread plays the controller
// with blocking calls. An eventfd tells the server thread to stop.

#include <benchmark/benchmark.h>

#include <cerrno>
#include <cstring>
#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "protocol/acceptor_net.h"

namespace {

constexpr std::size_t kBody = 16;
constexpr std::size_t kFrame = kBody + 4;
// Frames per write of the pipelined controller: far below what the socket buffers hold,
// so neither side ever waits for the other to read.
constexpr int kBatch = 256;

std::string frames(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes += std::string{3, 0, 0, static_cast<char>(kFrame)};
    for (std::size_t j = 0; j < kBody; ++j) bytes.push_back(static_cast<char>(i + j));
  }
  return bytes;
}

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void no_delay(int fd) {
  int const on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A listening socket on a free loopback port; the port in `port`.
int listen_any_port(int& port) {
  int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t size = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 || ::listen(fd, 1) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ::close(fd);
    return -1;
  }
  port = ntohs(address.sin_port);
  return fd;
}

bool write_all(int fd, char const* data, std::size_t size) {
  while (size > 0) {
    ssize_t const n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool read_exactly(int fd, char* data, std::size_t size) {
  while (size > 0) {
    ssize_t const n = ::read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// ---------------------------------------------------------------- the control link

struct Echo : Control::Notify {
  explicit Echo(Control::Service& s) : service(s) {}
  void OnConnect() override {}
  void OnDisconnect() override {}
  void OnMessage(char const* data, int length) override { service.Send(data, length); }
  Control::Service& service;
};

struct Stopper {
  void on_event(int, short revents) {
    if (revents & POLLIN) multiplexer.terminate();
  }
};

class ControlLinkEcho {
public:
  ControlLinkEcho() {
    // The acceptor takes a port number, not a socket: find a free one for it.
    int const probe = listen_any_port(m_port);
    ::close(probe);
    std::promise<void> ready;
    m_thread = std::thread([this, &ready] { serve(ready); });
    ready.get_future().wait();
  }
  ~ControlLinkEcho() {
    ::eventfd_write(m_stop.lowlevel_fd(), 1);
    m_thread.join();
  }
  int port() const { return m_port; }
  static char const* name() { return "ControlLink"; }

private:
  void serve(std::promise<void>& ready) {
    Control::AcceptorNetCheckConnection server(m_port, false);
    Echo echo(server);
    server.Bind(&echo);
    server.Activate();
    Stopper stopper;
    Event stop;
    stop.Bind("Stopper::on_event", &Stopper::on_event, &stopper);
    stop.Schedule(m_stop, POLLIN);
    ready.set_value();
    multiplexer.run(false, true);
    server.Deactivate();
  }

  int m_port = -1;
  Fd m_stop{::eventfd(0, EFD_CLOEXEC)};
  std::thread m_thread;
};

// ---------------------------------------------------------------- the bare echo

class RawEcho {
public:
  RawEcho() : m_listen(listen_any_port(m_port)) { m_thread = std::thread([this] { serve(); }); }
  ~RawEcho() {
    ::eventfd_write(m_stop.lowlevel_fd(), 1);
    m_thread.join();
  }
  int port() const { return m_port; }
  static char const* name() { return "RawEcho"; }

private:
  // Waits for `fd` to become readable; false once told to stop.
  bool wait_for(int fd) {
    pollfd records[2] = {{fd, POLLIN, 0}, {m_stop.lowlevel_fd(), POLLIN, 0}};
    while (::poll(records, 2, -1) < 0)
      if (errno != EINTR) return false;
    return !(records[1].revents & POLLIN);
  }

  void serve() {
    if (!wait_for(m_listen.lowlevel_fd())) return;
    Fd link(::accept4(m_listen.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC));
    no_delay(link.lowlevel_fd());
    char buffer[65536];
    std::size_t held = 0;  // bytes of an incomplete frame at the start of the buffer
    while (wait_for(link.lowlevel_fd())) {
      ssize_t const n = ::read(link.lowlevel_fd(), buffer + held, sizeof buffer - held);
      if (n <= 0) return;
      std::size_t const end = held + static_cast<std::size_t>(n);
      std::size_t at = 0;
      for (; end - at >= kFrame; at += kFrame)
        if (!write_all(link.lowlevel_fd(), buffer + at, kFrame)) return;
      held = end - at;
      std::memmove(buffer, buffer + at, held);
    }
  }

  int m_port = -1;
  Fd m_listen;
  Fd m_stop{::eventfd(0, EFD_CLOEXEC)};
  std::thread m_thread;
};

// ---------------------------------------------------------------- the controller

class Controller {
public:
  explicit Controller(int port) : m_fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in const address = loopback(port);
    m_connected = ::connect(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&address), sizeof address) == 0;
    no_delay(m_fd.lowlevel_fd());
  }
  bool connected() const { return m_connected; }
  // Writes `bytes` and reads as many back; false when the echo fails or differs.
  bool echo(std::string const& bytes, std::string& back) {
    return write_all(m_fd.lowlevel_fd(), bytes.data(), bytes.size()) &&
           read_exactly(m_fd.lowlevel_fd(), back.data(), back.size()) && back == bytes;
  }

private:
  Fd m_fd;
  bool m_connected = false;
};

template <class Server>
void run_echo(benchmark::State& state, int frames_per_write) {
  state.SetLabel(Server::name());
  Server server;
  Controller controller(server.port());
  if (!controller.connected()) {
    state.SkipWithError("connect failed");
    return;
  }
  std::string const bytes = frames(frames_per_write);
  std::string back(bytes.size(), '\0');
  for (auto _ : state) {
    if (!controller.echo(bytes, back)) {
      state.SkipWithError("the echo failed or differs");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * frames_per_write);
}

// One message out, its echo back: the latency of a controller request.
template <class Server>
void BM_EchoRoundTrip(benchmark::State& state) {
  run_echo<Server>(state, 1);
}

// Messages written back to back and their echoes read: items/s is messages per second.
template <class Server>
void BM_EchoPipelined(benchmark::State& state) {
  run_echo<Server>(state, kBatch);
}

BENCHMARK_TEMPLATE(BM_EchoRoundTrip, ControlLinkEcho)->UseRealTime();
BENCHMARK_TEMPLATE(BM_EchoRoundTrip, RawEcho)->UseRealTime();
BENCHMARK_TEMPLATE(BM_EchoPipelined, ControlLinkEcho)->UseRealTime();
BENCHMARK_TEMPLATE(BM_EchoPipelined, RawEcho)->UseRealTime();

}  // namespace
