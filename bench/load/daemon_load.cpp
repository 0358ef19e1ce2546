// Load driver: the built daemon on loopback beside a bare TCP peer that exchanges the
// same frames, in the same run and the same private namespaces as the end-to-end tests.
//
//  1. ping round trips through `server` (no stand-in: the switch refresh idles) and
//     through `server-sim`, beside a bare echo of the same frames;
//  2. cycles of create trunk slot, connect it to a standing trunk slot, destroy it
//     (3 frames in, 5 back) through `server-sim`, serial and pipelined, beside a bare
//     peer that answers each cycle with the daemon's own 5 frames, each its own write;
//  3. CAS cycles: `get` on an open trunk's timeslot without a slot (1 frame in, 2 back:
//     the bits and the answer) through `server-sim`, serial and pipelined, beside a bare
//     peer that answers each with the daemon's own 2 frames, each its own write;
//  4. the daemon's resident memory idle and after the pipelined cycles, beside the same
//     number of pings.
//
// The daemon reports trunk status unasked every second: the readers set those frames
// aside.
//
// Usage: daemon_load [cycles]   (default 100000 pipelined cycles)

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "asn1/coder_env.h"
#include "schemas/acp.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/server/board_messages.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRawPort = 20002;

std::string frame(std::string const& body) {
  std::string f = {'\x03', '\x00', static_cast<char>((body.size() + 4) >> 8), static_cast<char>((body.size() + 4) & 0xFF)};
  return f + body;
}

std::string encode(LGCP::Message const& m) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> body;
  if (!ASN1::encode(m, &env, std::back_inserter(body))) throw std::runtime_error("encode");
  return std::string(body.begin(), body.end());
}

int connect_to(int port) {
  int const s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  for (int i = 0; i < 500; ++i) {
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      int const one = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      return s;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  throw std::runtime_error(std::string("connect: ") + std::strerror(errno));
}

void write_all(int fd, std::string const& bytes) {
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t const n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("send: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

// The bytes every trunk status report begins with: its message's header up to the first
// field of the report, which is octet-aligned. Two reports that differ there show where.
std::string const& trunk_status_head() {
  static std::string const head = [] {
    auto report = [](int trunk) {
      LGCP::Message m;
      m.set_pdu().select_signal().select_trunkStatus().set_trunk(trunk);
      return encode(m);
    };
    std::string const a = report(0), b = report(0x7FFFFFFF);
    return a.substr(0, static_cast<std::size_t>(std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin()));
  }();
  return head;
}

bool is_trunk_status(std::string_view body) { return body.starts_with(trunk_status_head()); }

// Reads whole frames, trunk status reports set aside; the controller's side of both peers.
class FrameReader {
public:
  explicit FrameReader(int fd) : m_fd(fd) {}
  int fd() const { return m_fd; }
  // Blocks until `count` frames arrived; returns their bodies.
  std::vector<std::string> frames(std::size_t count) {
    std::vector<std::string> out;
    while (out.size() < count) {
      if (take(out, count)) continue;
      fill();
    }
    return out;
  }
  // Counts frames without keeping them.
  std::size_t count_available() {
    std::vector<std::string> out;
    fill();
    take(out, SIZE_MAX);
    return out.size();
  }

private:
  bool take(std::vector<std::string>& out, std::size_t limit) {
    bool took = false;
    while (out.size() < limit && m_buffer.size() - m_at >= 4) {
      std::size_t const length = (static_cast<unsigned char>(m_buffer[m_at + 2]) << 8) |
                                 static_cast<unsigned char>(m_buffer[m_at + 3]);
      if (length < 4) throw std::runtime_error("bad frame");
      if (m_buffer.size() - m_at < length) break;
      std::string_view const body(m_buffer.data() + m_at + 4, length - 4);
      m_at += length;
      if (is_trunk_status(body)) continue;
      out.emplace_back(body);
      took = true;
    }
    if (m_at > 65536) {
      m_buffer.erase(0, m_at);
      m_at = 0;
    }
    return took;
  }
  void fill() {
    char buf[65536];
    ssize_t const n = ::recv(m_fd, buf, sizeof buf, 0);
    if (n <= 0) throw std::runtime_error("the peer closed the link");
    m_buffer.append(buf, static_cast<std::size_t>(n));
  }
  int m_fd;
  std::string m_buffer;
  std::size_t m_at = 0;
};

// The bare peer: accepts one controller and answers every frame it reads with the
// frames `answer` gives for it, each with a write of its own.
class RawPeer {
public:
  using Answer = std::vector<std::string> (*)(std::string const& body, void* context);
  RawPeer(Answer answer, void* context) : m_answer(answer), m_context(context) {
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int const one = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(kRawPort);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4) != 0)
      throw std::runtime_error("raw peer: bind/listen");
    m_thread = std::thread([this] { serve(); });
  }
  ~RawPeer() {
    ::shutdown(m_listen, SHUT_RDWR);
    ::close(m_listen);
    m_thread.join();
  }

private:
  void serve() {
    int const fd = ::accept(m_listen, nullptr, nullptr);
    if (fd < 0) return;
    int const one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FrameReader reader(fd);
    try {
      for (;;)
        for (std::string const& body : reader.frames(1))
          for (std::string const& out : m_answer(body, m_context)) write_all(fd, out);
    } catch (std::exception const&) {
    }
    ::close(fd);
  }
  Answer m_answer;
  void* m_context;
  int m_listen;
  std::thread m_thread;
};

struct Figures {
  double mean_us = 0, median_us = 0, p99_us = 0;
};

// Serial round trips: one frame out, `back` frames in. One reader per link: a frame
// the daemon sends unasked may come split across reads.
Figures round_trips(FrameReader& reader, std::string const& out, std::size_t back, int count) {
  int const fd = reader.fd();
  std::vector<double> times;
  times.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto const start = Clock::now();
    write_all(fd, out);
    reader.frames(back);
    times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  Figures f;
  for (double t : times) f.mean_us += t;
  f.mean_us /= static_cast<double>(times.size());
  f.median_us = times[times.size() / 2];
  f.p99_us = times[times.size() * 99 / 100];
  return f;
}

// Pipelined cycles of `back` frames each: up to `window` cycles in flight; the rate in
// cycles per second.
double pipelined(FrameReader& reader, std::string const& cycle, long back, int cycles, int window) {
  int const fd = reader.fd();
  auto const start = Clock::now();
  int sent = 0;
  long received = 0;
  for (; sent < std::min(window, cycles); ++sent) write_all(fd, cycle);
  while (received < back * cycles) {
    received += static_cast<long>(reader.count_available());
    while (sent < cycles && static_cast<long>(sent) * back - received < back * window) {
      write_all(fd, cycle);
      ++sent;
    }
  }
  return cycles / std::chrono::duration<double>(Clock::now() - start).count();
}

long rss_kb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

std::vector<std::string> echo(std::string const& body, void*) { return {frame(body)}; }

// The daemon's answers of one cycle, by the command's place in the cycle.
struct CycleAnswers {
  std::vector<std::string> create, connect, destroy;
  int next = 0;
};

std::vector<std::string> answer_cycle(std::string const&, void* context) {
  auto& a = *static_cast<CycleAnswers*>(context);
  int const which = a.next;
  a.next = (a.next + 1) % 3;
  return which == 0 ? a.create : which == 1 ? a.connect : a.destroy;
}

// The daemon's two answers to a CAS get.
std::vector<std::string> answer_cas(std::string const&, void* context) {
  return *static_cast<std::vector<std::string>*>(context);
}

std::string run(int cycles) {
  constexpr int kPings = 20000;
  constexpr int kSerialCycles = 20000;
  constexpr int kWindow = 64;
  std::string const ping = frame(encode(e2e::ping(1)));
  std::string const create = frame(encode(e2e::create_trunk(2, 2, 1, 5)));
  std::string const connect = frame(encode(e2e::connect_to(3, 2, 1)));
  std::string const destroy = frame(encode(e2e::destroy(4, 2)));
  std::string const cycle = create + connect + destroy;

  // 1. ping: bare echo, server, server-sim.
  Figures raw_ping;
  {
    RawPeer peer(&echo, nullptr);
    FrameReader reader(connect_to(kRawPort));
    round_trips(reader, ping, 1, 1000);
    raw_ping = round_trips(reader, ping, 1, kPings);
    ::close(reader.fd());
  }
  // With `rss`, then as many pings as there are cycles, the memory before and after them.
  auto daemon_ping = [&](std::string const& program, long* rss = nullptr) {
    e2e::DaemonOptions options;
    options.program = program;
    e2e::Daemon daemon(options);
    if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
    FrameReader reader(connect_to(e2e::kPort));
    round_trips(reader, ping, 1, 1000);
    Figures const f = round_trips(reader, ping, 1, kPings);
    if (rss) {
      rss[0] = rss_kb(daemon.pid());
      round_trips(reader, ping, 1, cycles);
      rss[1] = rss_kb(daemon.pid());
    }
    ::close(reader.fd());
    if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
    return f;
  };
  long ping_rss[2] = {};
  Figures const server_ping = daemon_ping(e2e::server_program());
  Figures const sim_ping = daemon_ping(e2e::server_sim_program(), ping_rss);
  std::printf("ping round trip (%d, serial)      mean us  median us  p99 us\n", kPings);
  std::printf("  bare TCP echo                  %7.1f  %9.1f  %6.1f\n", raw_ping.mean_us, raw_ping.median_us,
              raw_ping.p99_us);
  std::printf("  server (no stand-in)           %7.1f  %9.1f  %6.1f   median %.2fx the bare echo\n",
              server_ping.mean_us, server_ping.median_us, server_ping.p99_us, server_ping.median_us / raw_ping.median_us);
  std::printf("  server-sim                     %7.1f  %9.1f  %6.1f   median %.2fx the bare echo\n", sim_ping.mean_us,
              sim_ping.median_us, sim_ping.p99_us, sim_ping.median_us / raw_ping.median_us);

  // 2. cycles through server-sim; its answers make the bare peer's.
  CycleAnswers answers;
  Figures sim_serial;
  double sim_rate = 0;
  long idle_rss = 0, warm_rss = 0, loaded_rss = 0;
  {
    e2e::Daemon daemon;
    if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
    int const fd = connect_to(e2e::kPort);
    FrameReader reader(fd);
    write_all(fd, frame(encode(e2e::create_trunk(1, 1, 0, 1))));
    reader.frames(3);
    write_all(fd, create);
    for (auto& b : reader.frames(3)) answers.create.push_back(frame(b));
    write_all(fd, connect);
    for (auto& b : reader.frames(1)) answers.connect.push_back(frame(b));
    write_all(fd, destroy);
    for (auto& b : reader.frames(1)) answers.destroy.push_back(frame(b));
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    for (auto const* list : {&answers.connect, &answers.destroy}) {
      LGCP::Message m;
      std::string const& f = list->front();
      if (!ASN1::decode(f.data() + 4, f.data() + f.size(), &env, m, true) || !e2e::is_success(m))
        throw std::runtime_error("the cycle is not answered success: " + daemon.output().substr(0, 2000));
    }
    idle_rss = rss_kb(daemon.pid());
    sim_serial = round_trips(reader, cycle, 5, kSerialCycles);
    // A first pipelined run of the same length fills the stand-in's request log and
    // touches the packet pool's blocks that many messages in flight need: what follows
    // must not grow.
    pipelined(reader, cycle, 5, cycles, kWindow);
    warm_rss = rss_kb(daemon.pid());
    sim_rate = pipelined(reader, cycle, 5, cycles, kWindow);
    loaded_rss = rss_kb(daemon.pid());
    ::close(fd);
    if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
  }
  Figures raw_serial;
  double raw_rate = 0;
  {
    RawPeer peer(&answer_cycle, &answers);
    FrameReader reader(connect_to(kRawPort));
    raw_serial = round_trips(reader, cycle, 5, kSerialCycles);
    raw_rate = pipelined(reader, cycle, 5, cycles, kWindow);
    ::close(reader.fd());
  }

  // 3. CAS cycles through server-sim; its two answers make the bare peer's.
  std::string const cas_get = frame(encode(board_test::cas(7, -1, 1, 5, board_test::Cas::get)));
  std::vector<std::string> cas_answers;
  Figures cas_serial, raw_cas_serial;
  double cas_rate = 0, raw_cas_rate = 0;
  long cas_warm_rss = 0, cas_loaded_rss = 0;
  {
    e2e::Daemon daemon;
    if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
    FrameReader reader(connect_to(e2e::kPort));
    write_all(reader.fd(), frame(encode(board_test::cas(6, -1, 1, 5, board_test::Cas::open, 9))));
    reader.frames(3);
    write_all(reader.fd(), cas_get);
    for (auto& b : reader.frames(2)) cas_answers.push_back(frame(b));
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    LGCP::Message bits, answer;
    std::string const& b0 = cas_answers.front();
    std::string const& b1 = cas_answers.back();
    if (!ASN1::decode(b0.data() + 4, b0.data() + b0.size(), &env, bits, true) || board_test::cas_text(bits) != "{1, 5, 0, 9}" ||
        !ASN1::decode(b1.data() + 4, b1.data() + b1.size(), &env, answer, true) || !e2e::is_success(answer))
      throw std::runtime_error("the CAS get is not answered with its bits and success: " + daemon.output().substr(0, 2000));
    cas_serial = round_trips(reader, cas_get, 2, kSerialCycles);
    pipelined(reader, cas_get, 2, cycles, kWindow);
    cas_warm_rss = rss_kb(daemon.pid());
    cas_rate = pipelined(reader, cas_get, 2, cycles, kWindow);
    cas_loaded_rss = rss_kb(daemon.pid());
    ::close(reader.fd());
    if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
  }
  {
    RawPeer peer(&answer_cas, &cas_answers);
    FrameReader reader(connect_to(kRawPort));
    raw_cas_serial = round_trips(reader, cas_get, 2, kSerialCycles);
    raw_cas_rate = pipelined(reader, cas_get, 2, cycles, kWindow);
    ::close(reader.fd());
  }
  std::printf("\ncreate + connect + destroy cycles (3 frames in, 5 back)\n");
  std::printf("  serial (%d)    bare peer %.1f us/cycle, server-sim %.1f us/cycle (median)\n", kSerialCycles,
              raw_serial.median_us, sim_serial.median_us);
  std::printf("  pipelined (%d, %d in flight)   bare peer %.0f cycles/s, server-sim %.0f cycles/s = %.2fx\n", cycles,
              kWindow, raw_rate, sim_rate, sim_rate / raw_rate);
  std::printf("\nCAS get cycles without a slot (1 frame in, 2 back)\n");
  std::printf("  serial (%d)    bare peer %.1f us/cycle, server-sim %.1f us/cycle (median)\n", kSerialCycles,
              raw_cas_serial.median_us, cas_serial.median_us);
  std::printf("  pipelined (%d, %d in flight)   bare peer %.0f cycles/s, server-sim %.0f cycles/s = %.2fx\n", cycles,
              kWindow, raw_cas_rate, cas_rate, cas_rate / raw_cas_rate);
  std::printf("\nserver-sim resident memory: idle %ld kB, after %d serial and %d pipelined cycles %ld kB, after %d"
              " more pipelined cycles %ld kB (growth %ld kB)\n",
              idle_rss, kSerialCycles, cycles, warm_rss, cycles, loaded_rss, loaded_rss - warm_rss);
  std::printf("  over %d more pipelined CAS cycles: %ld kB to %ld kB (growth %ld kB); over %d more pings: %ld kB to"
              " %ld kB (growth %ld kB)\n",
              cycles, cas_warm_rss, cas_loaded_rss, cas_loaded_rss - cas_warm_rss, cycles, ping_rss[0], ping_rss[1],
              ping_rss[1] - ping_rss[0]);
  std::fflush(stdout);
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  int const cycles = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string const result = e2e::in_scene(
      [&]() -> std::string {
        try {
          return run(cycles);
        } catch (std::exception const& e) {
          return e.what();
        }
      },
      1800);
  if (!result.empty()) {
    std::fprintf(stderr, "daemon_load: %s\n", result.c_str());
    return 1;
  }
  return 0;
}
