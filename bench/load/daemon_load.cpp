// Load driver: the built daemon on loopback beside a bare TCP peer that exchanges the
// same frames, in the same run and the same private namespaces as the end-to-end tests.
// The bare peer is a process of its own, as the daemon is, so that both pay the same
// wake-ups across processes; each runs pinned to one CPU, and the client (this process)
// to that CPU or another: a wake-up across CPUs costs several times one on the same CPU.
// Every figure comes in two placements: all on one CPU, and daemon and peer on one CPU
// with the client on another.
//
//  1. ping round trips through `server` (no stand-in: the switch refresh idles), through
//     `server-sim` and through the bare echo, in alternating turns;
//  2. cycles of create trunk slot, connect it to a standing trunk slot, destroy it
//     (3 frames in, 5 back) through `server-sim`, serial and pipelined, beside a bare
//     peer that answers each cycle with the daemon's own 5 frames, each its own write;
//  3. the daemon's resident memory idle and after the pipelined cycles;
//  4. the same for mixer cycles: create a mixer output that sums four inputs, connect it
//     to a standing trunk slot, destroy it (3 frames in, 4 back), on a stand-in unit.
//
// Usage: daemon_load [cycles] [mixer]   (default 100000 pipelined cycles; "mixer": only 4.)

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
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
#include <thread>
#include <vector>

#include "asn1/coder_env.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/slots/mixer_messages.h"
#include "tests/support/boardsim_client.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRawPort = 20002;
constexpr int kServerPort = 20003;  // `server` beside `server-sim` on the default port

// Pins the calling thread, and what it forks or starts from now on, to one CPU.
void pin_to(int cpu) {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  if (::sched_setaffinity(0, sizeof set, &set) != 0) throw std::runtime_error("sched_setaffinity");
}

// The first two CPUs this process may run on.
std::pair<int, int> two_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) throw std::runtime_error("sched_getaffinity");
  std::vector<int> cpus;
  for (int cpu = 0; cpu < CPU_SETSIZE && cpus.size() < 2; ++cpu)
    if (CPU_ISSET(cpu, &set)) cpus.push_back(cpu);
  if (cpus.size() < 2) throw std::runtime_error("two CPUs are needed for the second placement");
  return {cpus[0], cpus[1]};
}

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

// Reads whole frames; the controller's side of both peers.
class FrameReader {
public:
  explicit FrameReader(int fd) : m_fd(fd) {}
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
      out.push_back(m_buffer.substr(m_at + 4, length - 4));
      m_at += length;
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

// The bare peer, a process of its own: accepts one controller and answers every frame it
// reads with the frames `answer` gives for it, each with a write of its own.
class RawPeer {
public:
  using Answer = std::vector<std::string> (*)(std::string const& body, void* context);
  RawPeer(Answer answer, void* context, int port = kRawPort) {
    int const listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int const one = 1;
    ::setsockopt(listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listen_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_fd, 4) != 0)
      throw std::runtime_error("raw peer: bind/listen");
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("raw peer: fork");
    if (m_pid == 0) {
      serve(listen_fd, answer, context);
      ::_exit(0);
    }
    ::close(listen_fd);
  }
  ~RawPeer() {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  RawPeer(RawPeer const&) = delete;
  RawPeer& operator=(RawPeer const&) = delete;

private:
  static void serve(int listen_fd, Answer answer, void* context) {
    int const fd = ::accept(listen_fd, nullptr, nullptr);
    if (fd < 0) return;
    int const one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    FrameReader reader(fd);
    try {
      for (;;)
        for (std::string const& body : reader.frames(1))
          for (std::string const& out : answer(body, context)) write_all(fd, out);
    } catch (std::exception const&) {
    }
  }
  pid_t m_pid = -1;
};

struct Figures {
  double mean_us = 0, median_us = 0, p99_us = 0;
};

// Serial round trips: one frame out, `back` frames in.
Figures round_trips(int fd, std::string const& out, std::size_t back, int count) {
  FrameReader reader(fd);
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

// Pipelined cycles of `back` frames back each: up to `window` cycles in flight; the rate
// in cycles per second.
double pipelined(int fd, std::string const& cycle, int cycles, int window, long back = 5) {
  FrameReader reader(fd);
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

// Serial round trips in alternating turns over several links, so that the machine's
// drift meets each alike: every turn makes `per_turn` round trips on each link in order.
std::vector<Figures> alternating_round_trips(std::vector<int> const& fds, std::string const& out, int turns,
                                             int per_turn) {
  std::vector<FrameReader> readers;
  for (int fd : fds) readers.emplace_back(fd);
  std::vector<std::vector<double>> times(fds.size());
  for (int turn = 0; turn < turns; ++turn) {
    for (std::size_t link = 0; link < fds.size(); ++link) {
      for (int i = 0; i < per_turn; ++i) {
        auto const start = Clock::now();
        write_all(fds[link], out);
        readers[link].frames(1);
        times[link].push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
      }
    }
  }
  std::vector<Figures> figures;
  for (auto& t : times) {
    std::sort(t.begin(), t.end());
    Figures f;
    for (double x : t) f.mean_us += x;
    f.mean_us /= static_cast<double>(t.size());
    f.median_us = t[t.size() / 2];
    f.p99_us = t[t.size() * 99 / 100];
    figures.push_back(f);
  }
  return figures;
}

struct Placement {
  char const* name;
  int client_cpu;
  int peer_cpu;  // the daemons and the bare peers
};

void ping_figures(Placement const& where, std::string const& ping) {
  constexpr int kTurns = 4;
  constexpr int kPerTurn = 5000;
  pin_to(where.peer_cpu);
  RawPeer echo_peer(&echo, nullptr);
  e2e::DaemonOptions server_options;
  server_options.program = e2e::server_program();
  server_options.args = {"--port", std::to_string(kServerPort)};
  server_options.port = kServerPort;
  server_options.output_file = "/var/log/server-output";
  e2e::Daemon server(server_options);
  if (std::string const failed = server.start(); !failed.empty()) throw std::runtime_error(failed);
  e2e::Daemon sim;
  if (std::string const failed = sim.start(); !failed.empty()) throw std::runtime_error(failed);
  pin_to(where.client_cpu);

  std::vector<int> const fds = {connect_to(kRawPort), connect_to(kServerPort), connect_to(e2e::kPort)};
  alternating_round_trips(fds, ping, 1, 1000);  // warm-up
  std::vector<Figures> const f = alternating_round_trips(fds, ping, kTurns, kPerTurn);
  for (int fd : fds) ::close(fd);
  if (std::string const failed = server.stop(); !failed.empty()) throw std::runtime_error(failed);
  if (std::string const failed = sim.stop(); !failed.empty()) throw std::runtime_error(failed);

  std::printf("ping round trip (%d in %d alternating turns)  mean us  median us  p99 us\n", kTurns * kPerTurn, kTurns);
  std::printf("  bare TCP echo process          %7.1f  %9.1f  %6.1f\n", f[0].mean_us, f[0].median_us, f[0].p99_us);
  std::printf("  server (no stand-in)           %7.1f  %9.1f  %6.1f   median %.2fx the bare echo\n", f[1].mean_us,
              f[1].median_us, f[1].p99_us, f[1].median_us / f[0].median_us);
  std::printf("  server-sim                     %7.1f  %9.1f  %6.1f   median %.2fx the bare echo, %.2fx server\n",
              f[2].mean_us, f[2].median_us, f[2].p99_us, f[2].median_us / f[0].median_us,
              f[2].median_us / f[1].median_us);
}

void cycle_figures(Placement const& where, int cycles) {
  constexpr int kSerialCycles = 20000;
  constexpr int kWindow = 64;
  std::string const create = frame(encode(e2e::create_trunk(2, 2, 1, 5)));
  std::string const connect = frame(encode(e2e::connect_to(3, 2, 1)));
  std::string const destroy = frame(encode(e2e::destroy(4, 2)));
  std::string const cycle = create + connect + destroy;

  // Through server-sim; its answers make the bare peer's.
  CycleAnswers answers;
  Figures sim_serial;
  double sim_rate = 0;
  long idle_rss = 0, warm_rss = 0, loaded_rss = 0;
  {
    pin_to(where.peer_cpu);
    e2e::Daemon daemon;
    if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
    pin_to(where.client_cpu);
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
    sim_serial = round_trips(fd, cycle, 5, kSerialCycles);
    // A first pipelined run of the same length fills the stand-in's request log and
    // touches the packet pool's blocks that many messages in flight need: what follows
    // must not grow.
    pipelined(fd, cycle, cycles, kWindow);
    warm_rss = rss_kb(daemon.pid());
    sim_rate = pipelined(fd, cycle, cycles, kWindow);
    loaded_rss = rss_kb(daemon.pid());
    ::close(fd);
    if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
  }
  Figures raw_serial;
  double raw_rate = 0;
  {
    pin_to(where.peer_cpu);
    RawPeer peer(&answer_cycle, &answers);
    pin_to(where.client_cpu);
    int const fd = connect_to(kRawPort);
    raw_serial = round_trips(fd, cycle, 5, kSerialCycles);
    raw_rate = pipelined(fd, cycle, cycles, kWindow);
    ::close(fd);
  }
  std::printf("create + connect + destroy cycles (3 frames in, 5 back)\n");
  std::printf("  serial (%d)    bare peer %.1f us/cycle, server-sim %.1f us/cycle (median)\n", kSerialCycles,
              raw_serial.median_us, sim_serial.median_us);
  std::printf("  pipelined (%d, %d in flight)   bare peer %.0f cycles/s, server-sim %.0f cycles/s = %.2fx\n", cycles,
              kWindow, raw_rate, sim_rate, sim_rate / raw_rate);
  std::printf("server-sim resident memory: idle %ld kB, after %d serial and %d pipelined cycles %ld kB, after %d"
              " more pipelined cycles %ld kB (growth %ld kB)\n",
              idle_rss, kSerialCycles, cycles, warm_rss, cycles, loaded_rss, loaded_rss - warm_rss);
}

// Mixer cycles through server-sim on a stand-in unit: the daemon's resident memory idle,
// after a first run of `cycles` (the stand-in's request log fills) and after a second.
void mixer_memory(int cycles) {
  constexpr int kWindow = 64;
  using mixer_test::tdm;
  std::string const create =
      frame(encode(mixer_test::create_output(2, 2, 3, tdm(4), {{tdm(0), 100}, {tdm(1), 100}, {tdm(2), -5}, {tdm(3), 7}})));
  std::string const cycle = create + frame(encode(e2e::connect_to(3, 2, 1))) + frame(encode(e2e::destroy(4, 2)));
  e2e::Daemon daemon;
  if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
  test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
  if (board.command("set mixer unit 3 32 8 512").back() != "ok") throw std::runtime_error("set mixer unit");
  int const fd = connect_to(e2e::kPort);
  FrameReader reader(fd);
  write_all(fd, frame(encode(e2e::query(1))));
  reader.frames(2);
  write_all(fd, frame(encode(e2e::create_trunk(1, 1, 0, 1))));
  reader.frames(3);
  write_all(fd, cycle);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  for (std::string const& body : reader.frames(4)) {
    LGCP::Message m;
    if (!ASN1::decode(body.data(), body.data() + body.size(), &env, m, true) ||
        (m.get_pdu().response_isSelected() && !e2e::is_success(m)))
      throw std::runtime_error("the mixer cycle is not answered success: " + daemon.output().substr(0, 2000));
  }
  long const idle_rss = rss_kb(daemon.pid());
  double const first_rate = pipelined(fd, cycle, cycles, kWindow, 4);
  long const warm_rss = rss_kb(daemon.pid());
  double const second_rate = pipelined(fd, cycle, cycles, kWindow, 4);
  long const loaded_rss = rss_kb(daemon.pid());
  ::close(fd);
  if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
  std::printf("mixer cycles: create an output of four inputs + connect it to a trunk slot + destroy (3 frames in, 4"
              " back), %d in flight: %.0f then %.0f cycles/s\n",
              kWindow, first_rate, second_rate);
  std::printf("server-sim resident memory: idle %ld kB, after %d mixer cycles %ld kB, after %d more %ld kB (growth %ld"
              " kB)\n",
              idle_rss, cycles, warm_rss, cycles, loaded_rss, loaded_rss - warm_rss);
  std::fflush(stdout);
}

std::string run(int cycles, bool mixer_only) {
  if (mixer_only) {
    mixer_memory(cycles);
    return {};
  }
  std::string const ping = frame(encode(e2e::ping(1)));
  auto const [first, second] = two_cpus();
  for (Placement const& where : {Placement{"all on one CPU", first, first},
                                 Placement{"daemon and peer on one CPU, the client on another", first, second}}) {
    std::printf("== %s (client on CPU %d, daemon and peer on CPU %d)\n", where.name, where.client_cpu, where.peer_cpu);
    ping_figures(where, ping);
    cycle_figures(where, cycles);
    std::printf("\n");
    std::fflush(stdout);
  }
  mixer_memory(cycles);
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  int const cycles = argc > 1 ? std::atoi(argv[1]) : 100000;
  bool const mixer_only = argc > 2 && std::strcmp(argv[2], "mixer") == 0;
  std::string const result = e2e::in_scene(
      [&]() -> std::string {
        try {
          return run(cycles, mixer_only);
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
