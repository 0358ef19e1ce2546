// Arbitrary byte streams from a monitoring client into the TPKT tracer, over a real
// loopback connection. The tracer must hand its receiver exactly the frames that a plain
// reading of the stream yields up to the first framing fault, answer each one to the
// sender when the receiver replies, close the client at the fault, at the end of the
// stream or when the receiver closes it from inside a frame, and never touch what it
// freed.
//
// Input: byte 0 tells the receiver what to do (bit 0: reply to every frame; bit 1: close
// the sender at the frame numbered by byte 1); the stream follows byte 1, cut to 4096
// bytes so that it fits the socket buffers while the loop is not running.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <netinet/in.h>
#include <poll.h>
#include <streambuf>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/multiplexer.h"
#include "protocol/tpkt_tracer.h"
#include "tests/fuzz/support.h"

namespace {

void check(bool holds, char const* what) {
  if (holds) return;
  int const error = errno;
  std::cerr << "failed: " << what << " (errno " << error << ")" << std::endl;
  std::abort();
}

constexpr std::size_t kMaxStream = 4096;

// The framing rules on the whole stream: frames up to the first fault or the end.
struct Reading {
  std::vector<std::string> frames;
  bool fault = false;  // stopped at a bad header, with the rest of the stream unread
};

Reading read_whole(std::uint8_t const* s, std::size_t n) {
  Reading r;
  std::size_t at = 0;
  while (n - at >= 4) {
    std::size_t const length = std::size_t(s[at + 2]) << 8 | s[at + 3];
    if (s[at] != 3 || s[at + 1] != 0 || length < 4 || length - 4 > TPKTTracer::kMaxBody) {
      r.fault = true;
      break;
    }
    if (n - at < length) break;
    if (length > 4) r.frames.emplace_back(reinterpret_cast<char const*>(s + at + 4), length - 4);
    at += length;
  }
  return r;
}

std::string reply_to(std::string const& frame) { return "re " + std::to_string(frame.size()); }

struct Receiver : TPKTTracer::Sink {
  void OnFrame(std::uint8_t const* body, unsigned length) override {
    frames.emplace_back(reinterpret_cast<char const*>(body), length);
    if (reply) {
      std::string const r = reply_to(frames.back());
      tracer->Send(reinterpret_cast<std::uint8_t const*>(r.data()), static_cast<unsigned>(r.size()));
    }
    if (close_at >= 0 && frames.size() == std::size_t(close_at) + 1) tracer->CloseConnection(tracer->current());
  }
  TPKTTracer* tracer = nullptr;
  std::vector<std::string> frames;
  bool reply = false;
  int close_at = -1;
};

struct World {
  World() {
    receiver.tracer = &tracer;
    tracer.receiver(&receiver);
    // An ephemeral port nobody else holds: take one, let it go, listen on it.
    int const probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    check(::bind(probe, reinterpret_cast<sockaddr*>(&a), len) == 0, "bind a probe");
    check(::getsockname(probe, reinterpret_cast<sockaddr*>(&a), &len) == 0, "read the probe's port");
    ::close(probe);
    port = ntohs(a.sin_port);
    check(tracer.Listen(port), "listen");
    loopback = a;
  }
  TPKTTracer tracer;
  Receiver receiver;
  std::uint16_t port = 0;
  sockaddr_in loopback{};
};

// A blocking connect. libFuzzer's timer signal can interrupt it; the connection then goes
// on by itself, and is waited for.
bool connect_to(int fd, sockaddr_in const& address) {
  if (::connect(fd, reinterpret_cast<sockaddr const*>(&address), sizeof address) == 0) return true;
  if (errno != EINTR) return false;
  pollfd writable{fd, POLLOUT, 0};
  while (::poll(&writable, 1, -1) < 0)
    if (errno != EINTR) return false;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return false;
  errno = error;
  return error == 0;
}

// Runs the loop until the tracer holds `clients` clients.
void run_until_clients(TPKTTracer& tracer, std::size_t clients) {
  struct Checker {
    TPKTTracer& tracer;
    std::size_t clients;
    Dpc dpc;
    void check() {
      if (tracer.clients() == clients) multiplexer.terminate();
    }
  } checker{tracer, clients, {}};
  checker.dpc.Bind(&checker, &Checker::check);
  checker.dpc.Activate();
  multiplexer.run(false, true);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  static fuzz::NullBuffer null;
  std::clog.rdbuf(&null);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static World world;
  if (size < 2) return 0;
  std::uint8_t const* const stream = data + 2;
  std::size_t const n = std::min(size - 2, kMaxStream);
  Receiver& receiver = world.receiver;
  receiver.frames.clear();
  receiver.reply = data[0] & 1;
  receiver.close_at = (data[0] & 2) ? data[1] : -1;

  int const client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  check(connect_to(client, world.loopback), "connect");
  run_until_clients(world.tracer, 1);
  for (std::size_t at = 0; at < n;) {
    ssize_t const w = ::send(client, stream + at, n - at, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) break;  // the tracer may already have closed the link
    at += static_cast<std::size_t>(w);
  }
  ::shutdown(client, SHUT_WR);
  run_until_clients(world.tracer, 0);

  Reading reading = read_whole(stream, n);
  std::vector<std::string>& expected = reading.frames;
  // Closed from inside a frame, also the last whole one: bytes left unread behind it (a
  // partial frame) draw a reset as a fault does.
  if (receiver.close_at >= 0 && expected.size() > std::size_t(receiver.close_at)) {
    expected.resize(std::size_t(receiver.close_at) + 1);
    reading.fault = true;
  }
  check(receiver.frames == expected, "the frames delivered");

  std::string answers;
  for (;;) {
    char buffer[65536];
    ssize_t const r = ::recv(client, buffer, sizeof buffer, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;
    answers.append(buffer, static_cast<std::size_t>(r));
  }
  std::string wanted;
  if (receiver.reply) {
    for (std::string const& f : expected) {
      std::string const r = reply_to(f);
      wanted += std::string{3, 0, 0, static_cast<char>(r.size() + 4)} + r;
    }
  }
  // A client closed with its bytes unread gets a reset, which may overtake the last
  // answers: then what arrived must be the start of them.
  if (reading.fault)
    check(wanted.compare(0, answers.size(), answers) == 0, "the answers that arrived");
  else
    check(answers == wanted, "the answers");
  ::close(client);
  return 0;
}
