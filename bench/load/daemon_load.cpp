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
//  4. CAS cycles: `get` on an open trunk's timeslot without a slot (1 frame in, 2 back:
//     the bits and the answer) through `server-sim`, serial and pipelined, beside a bare
//     peer that answers each with the daemon's own 2 frames, each its own write; the
//     memory growth over the pipelined CAS cycles beside the same number of pings;
//  5. frame cycles through `server-sim`: one 32-byte `hdlcPackages` package to an HDLC
//     slot on an MCC slot's line, back the answer and the frame the MCC slot received
//     (1 frame in, 2 back), serial and pipelined, beside a bare peer that answers with
//     the daemon's own 2 frames; the HDLC slot's statistics and trunk status come unasked
//     and are set aside; the memory growth over the pipelined frame cycles and over as
//     many pipelined pings;
//  6. serial modem cycles through `server-sim`: create a DSP modem slot, connect it to a
//     standing trunk slot, wait for the PPP daemon's start line on the modem's terminal,
//     destroy the slot (the program ends on its SIGHUP), in alternating turns with the
//     driver's own fork and exec of the same program with the same arguments, SIGHUP
//     after the same line, and reap; with the daemon's resident memory and descriptors
//     after a warm-up and after all the cycles, and the stand-in's modems at the end;
//  7. RTP cycles: create an RTP slot, destroy it (2 frames in, 4 back) pipelined through
//     `server-sim`, which logs to a file, beside a bare peer that answers each with the
//     daemon's own 4 frames, each its own write; the daemon's descriptors and resident
//     memory after a warm-up of as many cycles and after the measured ones;
//  8. mixer cycles: create a mixer output that sums four inputs, connect it to a standing
//     trunk slot, destroy it (3 frames in, 4 back) pipelined on a stand-in unit; the
//     daemon's resident memory idle, after a first run and after a second;
//  9. a 64 MiB phrase file played once by a file player connected to a trunk slot, timed
//     from sending the connect to the abort, beside the bare loop that reads the file
//     8192 bytes at a time and writes each into an AF_UNIX SOCK_SEQPACKET socket pair
//     drained by a thread (the descriptor kind the stand-in hands out), best of 5 each,
//     alternating; the daemon's resident memory idle and over 10,000 cycles of create a
//     file player of a 2000-byte phrase, connect it, its abort, destroy it;
// 10. the PPP authentication link: an agent sends 1,000,000 accounting records pipelined
//     for a DSP modem slot set up for a fax call, and the controller counts the
//     accounting signals, beside a bare relay process that reads the same 64-byte
//     records from one loopback connection and writes, for each, the daemon's own
//     signal frame on another, each frame its own write; both counted as TPKT frames
//     alike; the daemon's resident memory idle, after a warm-up and after the run;
// 11. the authentication link flooded: one agent writes 140-byte requests for a session
//     no slot has as fast as it can while the controller pings; the median ping quiet
//     and flooded in the same run, and the records the daemon read per second (its lines
//     for them counted).
//
// The daemon reports trunk status unasked every second: the readers set those frames
// aside.
//
// Usage: daemon_load [cycles [modem cycles]] [section]
//   default 100000 pipelined cycles and 5000 modem cycles; a section (ping, cycles, cas,
//   frames, modem, rtp, mixer, voice, auth, flood) runs that one alone.

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
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "asn1/coder_env.h"
#include "schemas/acp.h"
#include "schemas/term.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/modem_scene.h"
#include "tests/e2e/scene.h"
#include "tests/server/board_messages.h"
#include "tests/server/channel_commands.h"
#include "tests/server/lgcp_messages.h"
#include "tests/slots/mixer_messages.h"
#include "tests/support/auth_agent.h"
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

// Which frames count; the others (unsolicited signals) are read and set aside.
using Keep = bool (*)(std::string const& body, void* context);

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

// Reads whole frames, trunk status reports and what `keep` refuses set aside; the
// controller's side of both peers. One reader per link: a frame the daemon sends unasked
// may come split across reads.
class FrameReader {
public:
  explicit FrameReader(int fd, Keep keep = nullptr, void* context = nullptr)
      : m_fd(fd), m_keep(keep), m_context(context) {}
  int fd() const { return m_fd; }
  void keep(Keep keep, void* context) {
    m_keep = keep;
    m_context = context;
  }
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
      std::string body = m_buffer.substr(m_at + 4, length - 4);
      m_at += length;
      took = true;
      if (is_trunk_status(body) || (m_keep && !m_keep(body, m_context))) continue;
      out.push_back(std::move(body));
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
  Keep m_keep;
  void* m_context;
  std::string m_buffer;
  std::size_t m_at = 0;
};

// A listening socket on 127.0.0.1:port, for the bare peers.
int listen_on(int port) {
  int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int const one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0)
    throw std::runtime_error("bare peer: bind/listen on " + std::to_string(port));
  return fd;
}

// A bare peer as a process of its own, as the daemon is: `serve` runs in a child, which
// is killed and reaped when the object goes. The listeners are the child's alone.
class PeerProcess {
public:
  PeerProcess(std::vector<int> const& listeners, std::function<void()> const& serve) {
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("bare peer: fork");
    if (m_pid == 0) {
      serve();
      ::_exit(0);
    }
    for (int fd : listeners) ::close(fd);
  }
  ~PeerProcess() {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
  PeerProcess(PeerProcess const&) = delete;
  PeerProcess& operator=(PeerProcess const&) = delete;

private:
  pid_t m_pid = -1;
};

// The bare peer: accepts one controller and answers every frame it reads with the frames
// `answer` gives for it, each with a write of its own.
class RawPeer {
public:
  using Answer = std::vector<std::string> (*)(std::string const& body, void* context);
  RawPeer(Answer answer, void* context, int port = kRawPort)
      : m_process({m_listen = listen_on(port)}, [&] { serve(m_listen, answer, context); }) {}

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
  int m_listen = -1;
  PeerProcess m_process;
};

struct Figures {
  double mean_us = 0, median_us = 0, p99_us = 0;
};

// Serial round trips: one frame out, `back` frames in.
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

// Pipelined cycles of `back` frames back: up to `window` cycles in flight; the rate in
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
  std::vector<std::vector<std::string>> by_command;
  std::size_t next = 0;
};

std::vector<std::string> answer_cycle(std::string const&, void* context) {
  auto& a = *static_cast<CycleAnswers*>(context);
  std::size_t const which = a.next;
  a.next = (a.next + 1) % a.by_command.size();
  return a.by_command[which];
}

// Sends each command of a cycle and keeps the daemon's frames for it, `back[i]` of them;
// each command's first answer must be a success.
CycleAnswers answers_of(FrameReader& reader, e2e::Daemon const& daemon, std::vector<std::string> const& commands,
                        std::vector<std::size_t> const& back) {
  CycleAnswers answers;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  for (std::size_t i = 0; i < commands.size(); ++i) {
    write_all(reader.fd(), commands[i]);
    std::vector<std::string> frames;
    for (auto& b : reader.frames(back[i])) frames.push_back(frame(b));
    LGCP::Message m;
    std::string const& first = frames.front();
    if (!ASN1::decode(first.data() + 4, first.data() + first.size(), &env, m, true) || !e2e::is_success(m))
      throw std::runtime_error("the cycle is not answered success: " + daemon.output().substr(0, 2000));
    answers.by_command.push_back(std::move(frames));
  }
  return answers;
}

// Serial round trips in alternating turns over several links, so that the machine's
// drift meets each alike: every turn makes `per_turn` round trips on each link in order.
std::vector<Figures> alternating_round_trips(std::vector<FrameReader>& readers, std::string const& out, int turns,
                                             int per_turn) {
  std::vector<std::vector<double>> times(readers.size());
  for (int turn = 0; turn < turns; ++turn) {
    for (std::size_t link = 0; link < readers.size(); ++link) {
      for (int i = 0; i < per_turn; ++i) {
        auto const start = Clock::now();
        write_all(readers[link].fd(), out);
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

  std::vector<FrameReader> readers;
  for (int port : {kRawPort, kServerPort, e2e::kPort}) readers.emplace_back(connect_to(port));
  alternating_round_trips(readers, ping, 1, 1000);  // warm-up
  std::vector<Figures> const f = alternating_round_trips(readers, ping, kTurns, kPerTurn);
  for (FrameReader const& reader : readers) ::close(reader.fd());
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

// Starts server-sim on the daemons' CPU and connects to it from the client's.
int start_and_connect(Placement const& where, e2e::Daemon& daemon) {
  pin_to(where.peer_cpu);
  std::string const failed = daemon.start();
  pin_to(where.client_cpu);
  if (!failed.empty()) throw std::runtime_error(failed);
  return connect_to(e2e::kPort);
}

void close_and_stop(e2e::Daemon& daemon, int fd) {
  ::close(fd);
  if (std::string const failed = daemon.stop(); !failed.empty()) throw std::runtime_error(failed);
}

// Cycles the bare peer exchanges as server-sim did, each frame of its answer its own write.
struct BareCycles {
  char const* title;
  std::string cycle;
  long back;
  int serial;
  int pipelined;
  int window;
  RawPeer::Answer answer;
  void* answer_context;
  Keep keep = nullptr;
  void* keep_context = nullptr;
};

// Runs the bare peer's cycles and prints its figures beside server-sim's.
void beside_bare_peer(Placement const& where, BareCycles const& b, Figures const& sim_serial, double sim_rate) {
  Figures raw_serial;
  double raw_rate = 0;
  {
    pin_to(where.peer_cpu);
    RawPeer peer(b.answer, b.answer_context);
    pin_to(where.client_cpu);
    FrameReader reader(connect_to(kRawPort), b.keep, b.keep_context);
    raw_serial = round_trips(reader, b.cycle, static_cast<std::size_t>(b.back), b.serial);
    raw_rate = pipelined(reader, b.cycle, b.back, b.pipelined, b.window);
    ::close(reader.fd());
  }
  std::printf("%s\n", b.title);
  std::printf("  serial (%d)    bare peer %.1f us/cycle, server-sim %.1f us/cycle (median)\n", b.serial,
              raw_serial.median_us, sim_serial.median_us);
  std::printf("  pipelined (%d, %d in flight)   bare peer %.0f cycles/s, server-sim %.0f cycles/s = %.2fx\n",
              b.pipelined, b.window, raw_rate, sim_rate, sim_rate / raw_rate);
}

constexpr int kSerialCycles = 20000;
constexpr int kWindow = 64;

// 2. Create, connect and destroy cycles of a trunk slot.
void cycle_figures(Placement const& where, int cycles) {
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
    e2e::Daemon daemon;
    int const fd = start_and_connect(where, daemon);
    FrameReader reader(fd);
    write_all(fd, frame(encode(e2e::create_trunk(1, 1, 0, 1))));
    reader.frames(3);
    answers = answers_of(reader, daemon, {create, connect, destroy}, {3, 1, 1});
    idle_rss = rss_kb(daemon.pid());
    sim_serial = round_trips(reader, cycle, 5, kSerialCycles);
    // A first pipelined run of the same length fills the stand-in's request log and
    // touches the packet pool's blocks that many messages in flight need: what follows
    // must not grow.
    pipelined(reader, cycle, 5, cycles, kWindow);
    warm_rss = rss_kb(daemon.pid());
    sim_rate = pipelined(reader, cycle, 5, cycles, kWindow);
    loaded_rss = rss_kb(daemon.pid());
    close_and_stop(daemon, fd);
  }
  beside_bare_peer(where,
                   {"create + connect + destroy cycles (3 frames in, 5 back)", cycle, 5, kSerialCycles, cycles, kWindow,
                    &answer_cycle, &answers},
                   sim_serial, sim_rate);
  std::printf("server-sim resident memory: idle %ld kB, after %d serial and %d pipelined cycles %ld kB, after %d"
              " more pipelined cycles %ld kB (growth %ld kB)\n",
              idle_rss, kSerialCycles, cycles, warm_rss, cycles, loaded_rss, loaded_rss - warm_rss);
}

// 4. CAS cycles: the daemon's two answers to a get, as server-sim gave them.
std::vector<std::string> answer_cas(std::string const&, void* context) {
  return *static_cast<std::vector<std::string>*>(context);
}

bool is_ping_answer(std::string const& body, void* context) { return body == *static_cast<std::string*>(context); }

void cas_figures(Placement const& where, int cycles) {
  std::string const cas_get = frame(encode(board_test::cas(7, -1, 1, 5, board_test::Cas::get)));
  std::string const ping = frame(encode(e2e::ping(8)));
  std::vector<std::string> cas_answers;
  Figures cas_serial;
  double cas_rate = 0;
  long warm_rss = 0, loaded_rss = 0, pinged_rss = 0;
  {
    e2e::Daemon daemon;
    FrameReader reader(start_and_connect(where, daemon));
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
    warm_rss = rss_kb(daemon.pid());
    cas_rate = pipelined(reader, cas_get, 2, cycles, kWindow);
    loaded_rss = rss_kb(daemon.pid());
    write_all(reader.fd(), ping);
    std::string ping_answer = reader.frames(1).front();
    reader.keep(&is_ping_answer, &ping_answer);
    pipelined(reader, ping, 1, cycles, kWindow);
    pinged_rss = rss_kb(daemon.pid());
    close_and_stop(daemon, reader.fd());
  }
  beside_bare_peer(where,
                   {"CAS get cycles without a slot (1 frame in, 2 back)", cas_get, 2, kSerialCycles, cycles, kWindow,
                    &answer_cas, &cas_answers},
                   cas_serial, cas_rate);
  std::printf("server-sim resident memory: over %d more pipelined CAS cycles %ld kB to %ld kB (growth %ld kB); over"
              " %d more pings to %ld kB (growth %ld kB)\n",
              cycles, warm_rss, loaded_rss, loaded_rss - warm_rss, cycles, pinged_rss, pinged_rss - loaded_rss);
}

// 5. Frame cycles. The answer's body never changes (its seq does not); the frame the MCC
// slot reports changes only in its control byte, the HDLC slot's send counter.
struct FrameCycle {
  std::string answer;
  std::string data_head;  // the userData signal's body up to the control byte
  std::size_t data_size = 0;
  std::string ping_answer;
};

bool frame_cycle_body(std::string const& body, void* context) {
  auto const& c = *static_cast<FrameCycle const*>(context);
  if (body == c.answer) return true;
  return body.size() == c.data_size && body.compare(0, c.data_head.size(), c.data_head) == 0;
}

bool ping_body(std::string const& body, void* context) { return body == static_cast<FrameCycle const*>(context)->ping_answer; }

std::vector<std::string> answer_frame_cycle(std::string const&, void* context) {
  auto const& c = *static_cast<FrameCycle const*>(context);
  return {frame(c.answer), frame(c.data_head + std::string(c.data_size - c.data_head.size(), '\0'))};
}

LGCP::Message decoded(std::string const& body) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message m;
  if (!ASN1::decode(body.data(), body.data() + body.size(), &env, m, true)) throw std::runtime_error("decode");
  return m;
}

// Sends one command and reads until its answer; false unless it is a success.
bool command(int fd, FrameReader& reader, LGCP::Message const& m) {
  write_all(fd, frame(encode(m)));
  for (;;) {
    LGCP::Message const got = decoded(reader.frames(1).front());
    if (got.get_pdu().response_isSelected() && got.seq_isPresent() && got.get_seq().getValue() == m.get_seq().getValue())
      return e2e::is_success(got);
  }
}

void frame_cycles(Placement const& where, int cycles) {
  constexpr int serial_cycles = kSerialCycles;
  constexpr int window = kWindow;
  constexpr int kMcc = 5;
  constexpr int kHdlc = 6;
  std::string const package = frame(encode(lgcp_test::hdlc_packages(100, kHdlc, {std::string(32, '\x5a')})));
  std::string const ping = frame(encode(e2e::ping(101)));
  FrameCycle c;
  Figures sim_serial;
  double sim_rate = 0;
  long warm_rss = 0, framed_rss = 0, pinged_rss = 0;
  {
    e2e::Daemon daemon;
    int const fd = start_and_connect(where, daemon);
    FrameReader reader(fd);
    if (!command(fd, reader, lgcp_test::create_mcc(1, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)) ||
        !command(fd, reader, lgcp_test::create_hdlc(2, kHdlc, 1, 0, 0x1234)) ||
        !command(fd, reader, e2e::connect_to(3, kMcc, kHdlc)))
      throw std::runtime_error("the line is not set up: " + daemon.output().substr(0, 2000));
    // The first cycle read whole: its answer and the frame the line got.
    write_all(fd, package);
    while (c.answer.empty() || c.data_size == 0) {
      std::string const body = reader.frames(1).front();
      LGCP::Message const m = decoded(body);
      if (m.get_pdu().response_isSelected()) c.answer = body;
      if (auto const data = lgcp_test::user_data_of(m); data && data->size() == 35) {
        c.data_size = body.size();
        c.data_head = body.substr(0, body.size() - 33);
      }
    }
    write_all(fd, ping);
    do c.ping_answer = reader.frames(1).front();
    while (!decoded(c.ping_answer).get_pdu().response_isSelected());

    reader.keep(&frame_cycle_body, &c);
    sim_serial = round_trips(reader, package, 2, serial_cycles);
    pipelined(reader, package, 2, cycles, window);
    warm_rss = rss_kb(daemon.pid());
    sim_rate = pipelined(reader, package, 2, cycles, window);
    framed_rss = rss_kb(daemon.pid());
    reader.keep(&ping_body, &c);
    pipelined(reader, ping, 1, cycles, window);
    pinged_rss = rss_kb(daemon.pid());
    close_and_stop(daemon, fd);
  }
  beside_bare_peer(where, {"frame cycles: one 32-byte hdlcPackages package to an HDLC slot on an MCC slot's line"
                    " (1 frame in, 2 back)",
                    package, 2, serial_cycles, cycles, window, &answer_frame_cycle, &c, &frame_cycle_body, &c},
                   sim_serial, sim_rate);
  std::printf("server-sim resident memory: after the warm-up %ld kB, after %d more frame cycles %ld kB (growth %ld kB),"
              " after %d pings %ld kB (growth %ld kB)\n",
              warm_rss, cycles, framed_rss, framed_rss - warm_rss, cycles, pinged_rss, pinged_rss - framed_rss);
  std::fflush(stdout);
}

int open_descriptors(pid_t pid) {
  std::error_code error;
  auto const entries = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error);
  return error ? -1 : static_cast<int>(std::distance(entries, std::filesystem::directory_iterator()));
}

LGCP::Message create_modem(int seq, int slot) {
  return e2e::command(seq, slot, [](LGCP::Command& c) {
    TERM::ModemParams& modem = c.select_create().select_modem();
    modem.set_cid("5551234");
    modem.set_cdid("");
  });
}

bool answered_success(std::string const& body) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message m;
  return ASN1::decode(body.data(), body.data() + body.size(), &env, m, true) && e2e::is_success(m);
}

// The serial cycle times of both sides, in microseconds.
struct ModemTimes {
  std::vector<double> daemon, bare;
};

// One daemon cycle: create, connect (3 frames back), the start line, destroy.
double daemon_modem_cycle(FrameReader& reader, e2e::ModemTerminals& terminals, std::string const& cycle_start,
                          std::string const& destroy) {
  int const fd = reader.fd();
  auto const start = Clock::now();
  write_all(fd, cycle_start);
  reader.frames(4);
  std::string const line = terminals.next_line(0, 5000);
  if (line.rfind(e2e::kPppd, 0) != 0) throw std::runtime_error("no start line on /dev/mdm0: " + line);
  write_all(fd, destroy);
  if (!answered_success(reader.frames(1)[0])) throw std::runtime_error("a modem destroy failed");
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The driver's own cycle: fork and exec the program, its start line, SIGHUP, reap.
double bare_modem_cycle(e2e::ModemTerminals& terminals, int cpu) {
  static char const* const argv[] = {e2e::kPppd, "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0",
                                     "remotenumber", "5551234", nullptr};
  auto const start = Clock::now();
  pid_t const pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    ::sched_setaffinity(0, sizeof set, &set);
    ::execv(argv[0], const_cast<char* const*>(argv));
    ::_exit(2);
  }
  std::string const line = terminals.next_line(0, 5000);
  if (line.rfind(e2e::kPppd, 0) != 0) throw std::runtime_error("no start line from the bare program: " + line);
  ::kill(pid, SIGHUP);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

double median(std::vector<double> times) {
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void modem_figures(Placement const& where, e2e::ModemTerminals& terminals, int cycles) {
  constexpr int kTurns = 10;
  constexpr int kWarmUp = 100;
  e2e::set_mode(e2e::kPppd, "hup 0");
  e2e::Daemon daemon;
  FrameReader reader(start_and_connect(where, daemon));
  write_all(reader.fd(), frame(encode(e2e::create_trunk(1, 4, 1, 5))));
  reader.frames(3);
  std::string const cycle_start = frame(encode(create_modem(2, 3))) + frame(encode(e2e::connect_to(3, 3, 4)));
  std::string const destroy = frame(encode(e2e::destroy(4, 3)));

  ModemTimes times;
  for (int i = 0; i < kWarmUp; ++i) {
    daemon_modem_cycle(reader, terminals, cycle_start, destroy);
    bare_modem_cycle(terminals, where.peer_cpu);
  }
  long const idle_rss = rss_kb(daemon.pid());
  int const idle_fds = open_descriptors(daemon.pid());
  auto const started = Clock::now();
  for (int turn = 0; turn < kTurns; ++turn) {
    for (int i = turn * cycles / kTurns; i < (turn + 1) * cycles / kTurns; ++i)
      times.daemon.push_back(daemon_modem_cycle(reader, terminals, cycle_start, destroy));
    for (int i = turn * cycles / kTurns; i < (turn + 1) * cycles / kTurns; ++i)
      times.bare.push_back(bare_modem_cycle(terminals, where.peer_cpu));
  }
  double const seconds = std::chrono::duration<double>(Clock::now() - started).count();
  long const loaded_rss = rss_kb(daemon.pid());
  int const loaded_fds = open_descriptors(daemon.pid());
  test::BoardSimClient board(daemon.pid());
  int held = 0;
  for (std::string const& line : board.ok("state mctl")) held += line.find(" held ") != std::string::npos;
  close_and_stop(daemon, reader.fd());

  double const daemon_median = median(times.daemon), bare_median = median(times.bare);
  double const slowest = *std::max_element(times.daemon.begin(), times.daemon.end());
  double daemon_total = 0;
  for (double t : times.daemon) daemon_total += t;
  std::printf("modem cycles: create, connect, start line, destroy (%d serial, %d turns, beside as many bare ones)\n",
              cycles, kTurns);
  std::printf("  bare fork+exec+SIGHUP+reap %.0f us/cycle, server-sim %.0f us/cycle (median) = %.2fx;"
              " server-sim %.0f cycles/s, slowest %.1f ms%s\n",
              bare_median, daemon_median, daemon_median / bare_median, 1e6 * cycles / daemon_total, slowest / 1000,
              slowest > 1e6 ? " (over 1000 ms!)" : "");
  std::printf("  server-sim after %d cycles: resident %ld kB, %d descriptors; after %d more: %ld kB (growth %ld kB),"
              " %d descriptors; modems held at the end: %d (%.0f s)\n",
              kWarmUp, idle_rss, idle_fds, cycles, loaded_rss, loaded_rss - idle_rss, loaded_fds, held, seconds);
}

// 7. RTP create and destroy cycles.
void rtp_figures(Placement const& where, int cycles) {
  constexpr long kBack = 4;
  lgcp_test::RtpCreate rtp;
  rtp.dhost = {"127.0.0.1", 40000};
  rtp.shost = lgcp_test::Host{"127.0.0.1", 30000};
  rtp.ssrc = 16909060;
  std::string const create =
      frame(encode(lgcp_test::command(1, 7, [&](LGCP::Command& c) { c.select_create(lgcp_test::create_params(rtp)); })));
  std::string const destroy = frame(encode(e2e::destroy(2, 7)));
  std::string const cycle = create + destroy;

  // The far end's RTCP port exists, as on a real network: no ICMP answers the SDES and BYE.
  int const sink = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in far{};
  far.sin_family = AF_INET;
  far.sin_port = htons(40001);
  far.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(sink, reinterpret_cast<sockaddr*>(&far), sizeof far) != 0) throw std::runtime_error("RTCP sink: bind");

  CycleAnswers answers;
  double sim_rate = 0;
  long warm_fds = 0, loaded_fds = 0, warm_rss = 0, loaded_rss = 0;
  {
    e2e::Daemon daemon;
    FrameReader reader(start_and_connect(where, daemon));
    answers = answers_of(reader, daemon, {create, destroy}, {3, 1});
    pipelined(reader, cycle, kBack, cycles, kWindow);
    warm_fds = open_descriptors(daemon.pid());
    warm_rss = rss_kb(daemon.pid());
    sim_rate = pipelined(reader, cycle, kBack, cycles, kWindow);
    loaded_fds = open_descriptors(daemon.pid());
    loaded_rss = rss_kb(daemon.pid());
    close_and_stop(daemon, reader.fd());
  }
  double raw_rate = 0;
  {
    pin_to(where.peer_cpu);
    RawPeer peer(&answer_cycle, &answers);
    pin_to(where.client_cpu);
    FrameReader reader(connect_to(kRawPort));
    raw_rate = pipelined(reader, cycle, kBack, cycles, kWindow);
    ::close(reader.fd());
  }
  ::close(sink);
  std::printf("RTP create + destroy cycles (2 frames in, 4 back)\n");
  std::printf("  pipelined (%d, %d in flight)   bare peer %.0f cycles/s, server-sim %.0f cycles/s = %.2fx\n", cycles,
              kWindow, raw_rate, sim_rate, sim_rate / raw_rate);
  std::printf("server-sim after %d warm-up cycles: %ld descriptors, %ld kB resident; after %d more: %ld descriptors,"
              " %ld kB (growth %ld kB)\n",
              cycles, warm_fds, warm_rss, cycles, loaded_fds, loaded_rss, loaded_rss - warm_rss);
}

// 8. Mixer cycles on a stand-in unit: the daemon's resident memory idle, after a first
// run of `cycles` (the stand-in's request log fills) and after a second.
void mixer_figures(Placement const& where, int cycles) {
  using mixer_test::tdm;
  std::string const create =
      frame(encode(mixer_test::create_output(2, 2, 3, tdm(4), {{tdm(0), 100}, {tdm(1), 100}, {tdm(2), -5}, {tdm(3), 7}})));
  std::string const cycle = create + frame(encode(e2e::connect_to(3, 2, 1))) + frame(encode(e2e::destroy(4, 2)));
  e2e::Daemon daemon;
  pin_to(where.peer_cpu);
  if (std::string const failed = daemon.start(); !failed.empty()) throw std::runtime_error(failed);
  pin_to(where.client_cpu);
  test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
  if (board.command("set mixer unit 3 32 8 512").back() != "ok") throw std::runtime_error("set mixer unit");
  FrameReader reader(connect_to(e2e::kPort));
  write_all(reader.fd(), frame(encode(e2e::query(1))));
  reader.frames(2);
  write_all(reader.fd(), frame(encode(e2e::create_trunk(1, 1, 0, 1))));
  reader.frames(3);
  write_all(reader.fd(), cycle);
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  for (std::string const& body : reader.frames(4)) {
    LGCP::Message m;
    if (!ASN1::decode(body.data(), body.data() + body.size(), &env, m, true) ||
        (m.get_pdu().response_isSelected() && !e2e::is_success(m)))
      throw std::runtime_error("the mixer cycle is not answered success: " + daemon.output().substr(0, 2000));
  }
  long const idle_rss = rss_kb(daemon.pid());
  double const first_rate = pipelined(reader, cycle, 4, cycles, kWindow);
  long const warm_rss = rss_kb(daemon.pid());
  double const second_rate = pipelined(reader, cycle, 4, cycles, kWindow);
  long const loaded_rss = rss_kb(daemon.pid());
  close_and_stop(daemon, reader.fd());
  std::printf("mixer cycles: create an output of four inputs + connect it to a trunk slot + destroy (3 frames in, 4"
              " back), %d in flight: %.0f then %.0f cycles/s\n",
              kWindow, first_rate, second_rate);
  std::printf("server-sim resident memory: idle %ld kB, after %d mixer cycles %ld kB, after %d more %ld kB (growth %ld"
              " kB)\n",
              idle_rss, cycles, warm_rss, cycles, loaded_rss, loaded_rss - warm_rss);
  std::fflush(stdout);
}

// 9. Voice files. Commands are read back until their answer; the abort comes after it.
struct VoiceLink {
  int fd;
  FrameReader& reader;
  int seq = 1000;

  LGCP::Message next() { return decoded(reader.frames(1).front()); }
  void ok(LGCP::Message const& m) {
    if (!command(fd, reader, m)) throw std::runtime_error("a voice command failed");
  }
  void until_abort(int slot) {
    for (;;) {
      LGCP::Message const m = next();
      if (lgcp_test::slot_of(m) == slot && lgcp_test::abort_of(m)) return;
    }
  }
};

void write_phrase(std::string const& path, std::size_t size) {
  std::string block(1 << 16, '\0');
  for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>((i * 2654435761u) >> 13);
  std::ofstream out(path, std::ios::binary);
  for (std::size_t done = 0; done < size; done += block.size())
    out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
  if (!out) throw std::runtime_error("cannot write " + path);
}

// The bare loop: the file into a socket pair of the stand-in's kind, drained by a thread.
double bare_file_seconds(std::string const& path) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) throw std::runtime_error("socketpair");
  std::thread drain([fd = pair[1]] {
    char buf[65536];
    while (::recv(fd, buf, sizeof buf, 0) > 0) {
    }
  });
  auto const start = Clock::now();
  int const file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  char buf[8192];
  ssize_t n;
  while ((n = ::read(file, buf, sizeof buf)) > 0)
    if (::write(pair[0], buf, static_cast<std::size_t>(n)) != n) throw std::runtime_error("bare write");
  ::close(file);
  ::close(pair[0]);
  drain.join();
  double const seconds = std::chrono::duration<double>(Clock::now() - start).count();
  ::close(pair[1]);
  return seconds;
}

long written_on(test::BoardSimClient& board, int port) {
  auto const lines = board.ok("state mcc/ctl " + std::to_string(port));
  auto const at = lines.empty() ? std::string::npos : lines[0].find("written=");
  return at == std::string::npos ? -1 : std::atol(lines[0].c_str() + at + 8);
}

int last_port(test::BoardSimClient& board) {
  auto const results = board.requests("mcc/ctl", "ioctl MCC_TIMESLOT");
  auto const at = results.empty() ? std::string::npos : results.back().find("result=");
  return at == std::string::npos ? -1 : std::atoi(results.back().c_str() + at + 7);
}

void voice_figures(Placement const& where) {
  constexpr std::size_t kBig = std::size_t{64} << 20;
  constexpr int kRuns = 5;
  constexpr int kCycles = 10000;
  constexpr int kTrunk = 1;
  constexpr int kPlayer = 2;
  ::mkdir("/usr/local/voice", 0755);
  write_phrase("/usr/local/voice/big.al", kBig);
  write_phrase("/usr/local/voice/one.al", 2000);
  double best_sim = 1e9, best_bare = 1e9;
  long idle_rss = 0, warm_rss = 0, cycled_rss = 0;
  {
    e2e::Daemon daemon;
    int const fd = start_and_connect(where, daemon);
    FrameReader reader(fd);
    test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
    VoiceLink link{fd, reader};
    link.ok(e2e::create_trunk(++link.seq, kTrunk, 0, 1));
    for (int run = 0; run < kRuns; ++run) {
      board.ok("clear");
      link.ok(lgcp_test::create_file_player(++link.seq, kPlayer, {"big.al"}, 1));
      int const port = last_port(board);
      auto const start = Clock::now();
      write_all(fd, frame(encode(e2e::connect_to(++link.seq, kPlayer, kTrunk))));
      link.until_abort(kPlayer);
      best_sim = std::min(best_sim, std::chrono::duration<double>(Clock::now() - start).count());
      if (written_on(board, port) != static_cast<long>(kBig)) throw std::runtime_error("the big phrase is not written whole");
      link.ok(e2e::destroy(++link.seq, kPlayer));
      pin_to(where.peer_cpu);
      best_bare = std::min(best_bare, bare_file_seconds("/usr/local/voice/big.al"));
      pin_to(where.client_cpu);
    }

    auto const cycles = [&](int count) {
      for (int i = 0; i < count; ++i) {
        link.ok(lgcp_test::create_file_player(++link.seq, kPlayer, {"one.al"}, 1));
        write_all(fd, frame(encode(e2e::connect_to(++link.seq, kPlayer, kTrunk))));
        link.until_abort(kPlayer);
        link.ok(e2e::destroy(++link.seq, kPlayer));
      }
    };
    idle_rss = rss_kb(daemon.pid());
    cycles(kCycles);  // fills the stand-in's request log
    warm_rss = rss_kb(daemon.pid());
    cycles(kCycles);
    cycled_rss = rss_kb(daemon.pid());
    close_and_stop(daemon, fd);
  }
  double const mb = static_cast<double>(kBig) / 1e6;
  std::printf("64 MiB phrase file played once (best of %d, alternating)   bare read+write %.0f MB/s, server-sim %.0f MB/s"
              " = %.2fx\n",
              kRuns, mb / best_bare, mb / best_sim, best_bare / best_sim);
  std::printf("server-sim resident memory: idle %ld kB, after %d file player cycles %ld kB, after %d more %ld kB"
              " (growth %ld kB)\n",
              idle_rss, kCycles, warm_rss, kCycles, cycled_rss, cycled_rss - warm_rss);
  std::fflush(stdout);
}

// 10. The authentication link. Records go out in writes of kRecordBatch records.
constexpr int kAuthPort = 52000;
constexpr int kRelayAgentPort = 20004;
constexpr int kRecordBatch = 1024;
constexpr int kAuthSlot = 3;

// The agent's side: `count` accounting records for session 0 (modem 0), written in
// batches by a thread of its own, so that the reading side keeps up meanwhile.
std::thread feed_records(int fd, long count) {
  return std::thread([fd, count] {
    std::uint32_t const record[16] = {64, 4, 0, 0, 0, 0, 0, 1, 0, 2, 0, 3, 0, 4, 60, 0};
    std::string batch;
    for (int i = 0; i < kRecordBatch; ++i) batch.append(reinterpret_cast<char const*>(record), sizeof record);
    for (long sent = 0; sent < count; sent += kRecordBatch) {
      long const n = std::min<long>(kRecordBatch, count - sent);
      write_all(fd, batch.substr(0, static_cast<std::size_t>(n) * sizeof record));
    }
  });
}

// Reads until `count` frames came (trunk status set aside); the rate in frames per second
// from `start`.
double frames_per_second(FrameReader& reader, long count, Clock::time_point start) {
  long received = 0;
  while (received < count) received += static_cast<long>(reader.count_available());
  return static_cast<double>(count) / std::chrono::duration<double>(Clock::now() - start).count();
}

// The bare relay, a process of its own: takes the agent's connection, then the
// controller's, and for each 64-byte record read writes `frame` with a write of its own.
class AuthRelay {
public:
  explicit AuthRelay(std::string const& frame)
      : m_process({m_agents = listen_on(kRelayAgentPort), m_controllers = listen_on(kRawPort)},
                  [&] { relay(m_agents, m_controllers, frame); }) {}

private:
  static void relay(int agents, int controllers, std::string const& frame) {
    int const in = ::accept(agents, nullptr, nullptr);
    int const out = ::accept(controllers, nullptr, nullptr);
    if (in < 0 || out < 0) return;
    int const one = 1;
    ::setsockopt(out, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::string pending;
    char buf[65536];
    try {
      for (ssize_t n; (n = ::recv(in, buf, sizeof buf, 0)) > 0;) {
        pending.append(buf, static_cast<std::size_t>(n));
        std::size_t at = 0;
        for (; pending.size() - at >= 64; at += 64) write_all(out, frame);
        pending.erase(0, at);
      }
    } catch (std::exception const&) {
    }
  }
  int m_agents = -1, m_controllers = -1;
  PeerProcess m_process;
};

void auth_figures(Placement const& where, long records) {
  constexpr long kWarmUp = 100000;
  std::string acct_frame;
  double sim_rate = 0;
  long idle_rss = 0, warm_rss = 0, loaded_rss = 0;
  {
    e2e::Daemon daemon;
    int const fd = start_and_connect(where, daemon);
    FrameReader reader(fd);
    if (!command(fd, reader, e2e::create_trunk(1, 4, 1, 5)) ||
        !command(fd, reader, e2e::command(2, kAuthSlot, [](LGCP::Command& c) {
          TERM::ModemParams& modem = c.select_create().select_modem();
          modem.set_cid("");
          modem.set_cdid("");
          modem.set_fax();
          modem.set_originate();
        })) ||
        !command(fd, reader, e2e::connect_to(3, kAuthSlot, 4)))
      throw std::runtime_error("the modem slot is not set up: " + daemon.output().substr(0, 2000));
    int const agent = connect_to(kAuthPort);
    // The first record's signal, read whole: the relay's frame.
    feed_records(agent, 1).join();
    for (;;) {
      std::string const body = reader.frames(1).front();
      LGCP::Message const m = decoded(body);
      if (lgcp_test::slot_of(m) == kAuthSlot && m.get_pdu().signal_isSelected() &&
          m.get_pdu().get_signal().modemProceeding_isSelected()) {
        acct_frame = frame(body);
        break;
      }
    }
    idle_rss = rss_kb(daemon.pid());
    std::thread warm = feed_records(agent, kWarmUp);
    frames_per_second(reader, kWarmUp, Clock::now());
    warm.join();
    warm_rss = rss_kb(daemon.pid());
    auto const start = Clock::now();
    std::thread feeder = feed_records(agent, records);
    sim_rate = frames_per_second(reader, records, start);
    feeder.join();
    loaded_rss = rss_kb(daemon.pid());
    ::close(agent);
    close_and_stop(daemon, fd);
  }
  double relay_rate = 0;
  {
    pin_to(where.peer_cpu);
    AuthRelay relay(acct_frame);
    pin_to(where.client_cpu);
    int const agent = connect_to(kRelayAgentPort);
    FrameReader reader(connect_to(kRawPort));
    std::thread warm = feed_records(agent, kWarmUp);
    frames_per_second(reader, kWarmUp, Clock::now());
    warm.join();
    auto const start = Clock::now();
    std::thread feeder = feed_records(agent, records);
    relay_rate = frames_per_second(reader, records, start);
    feeder.join();
    ::close(agent);
    ::close(reader.fd());
  }
  std::printf("authentication link: %ld accounting records pipelined, one acct signal each (%d records a write)\n",
              records, kRecordBatch);
  std::printf("  bare relay %.0f records/s, server-sim %.0f records/s = %.2fx\n", relay_rate, sim_rate,
              sim_rate / relay_rate);
  std::printf("server-sim resident memory: idle %ld kB, after %ld warm-up records %ld kB, after %ld more %ld kB"
              " (growth %ld kB)\n",
              idle_rss, kWarmUp, warm_rss, records, loaded_rss, loaded_rss - warm_rss);
  std::fflush(stdout);
}

// 11. The authentication link flooded: requests for a session no slot has, each read,
// logged and dropped, so that only the pings travel on the controller link.
constexpr std::uint32_t kNoSession = 77777;

// One agent writing the same request in batches as fast as it can, until it goes.
class Flood {
public:
  explicit Flood(int fd) : m_fd(fd), m_thread([this] { write_until_stopped(); }) {}
  ~Flood() {
    m_stop = true;
    ::shutdown(m_fd, SHUT_WR);  // a write blocked on a full window fails
    m_thread.join();
    ::close(m_fd);
  }
  Flood(Flood const&) = delete;
  Flood& operator=(Flood const&) = delete;

private:
  void write_until_stopped() {
    std::string batch;
    for (int i = 0; i < kRecordBatch; ++i) batch += test::auth_request(kNoSession, "flood", "flood");
    try {
      while (!m_stop) write_all(m_fd, batch);
    } catch (std::exception const&) {
    }
  }
  int m_fd;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

void flood_figures(Placement const& where, std::string const& ping) {
  constexpr int kPings = 2000;
  e2e::Daemon daemon;
  int const fd = start_and_connect(where, daemon);
  FrameReader reader(fd);
  round_trips(reader, ping, 1, 1000);  // warm-up
  Figures const quiet = round_trips(reader, ping, 1, kPings);
  // A loop held by the agent answers no ping: the run ends instead of waiting for ever.
  timeval const limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  Figures flooded;
  double seconds = 0;
  std::size_t handled = 0;
  {
    Flood const flood(connect_to(kAuthPort));
    auto const start = Clock::now();
    try {
      flooded = round_trips(reader, ping, 1, kPings);
    } catch (std::exception const&) {
      throw std::runtime_error("a ping got no answer within 10 s during the flood");
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::string const said = daemon.output();
    std::string const line = "unknown session " + std::to_string(kNoSession) + "\n";
    for (std::size_t at = said.find(line); at != std::string::npos; at = said.find(line, at + line.size())) ++handled;
  }
  close_and_stop(daemon, fd);
  std::printf("authentication link flooded: one agent writes 140-byte requests for no slot's session (%d a write)\n",
              kRecordBatch);
  std::printf("  ping median quiet %.1f us, flooded %.1f us = %.2fx (each of %d answered); server-sim read %.0f"
              " records/s\n",
              quiet.median_us, flooded.median_us, flooded.median_us / quiet.median_us, kPings,
              static_cast<double>(handled) / seconds);
  std::fflush(stdout);
}

// `only`: one section alone, by name; empty: all.
std::string run(int cycles, int modem_cycles, std::string const& only) {
  e2e::ModemTerminals terminals;
  if (std::string const failed = terminals.make(1); !failed.empty()) return failed;
  if (std::string const failed = e2e::install_modem_programs(); !failed.empty()) return failed;
  std::string const ping = frame(encode(e2e::ping(1)));
  auto const [first, second] = two_cpus();
  for (Placement const& where : {Placement{"all on one CPU", first, first},
                                 Placement{"daemon and peer on one CPU, the client on another", first, second}}) {
    std::printf("== %s (client on CPU %d, daemon and peer on CPU %d)\n", where.name, where.client_cpu, where.peer_cpu);
    auto const runs = [&](char const* section) { return only.empty() || only == section; };
    if (runs("ping")) ping_figures(where, ping);
    if (runs("cycles")) cycle_figures(where, cycles);
    if (runs("cas")) cas_figures(where, cycles);
    if (runs("frames")) frame_cycles(where, cycles);
    if (runs("modem")) modem_figures(where, terminals, modem_cycles);
    if (runs("rtp")) rtp_figures(where, cycles);
    if (runs("mixer")) mixer_figures(where, cycles);
    if (runs("voice")) voice_figures(where);
    if (runs("auth")) auth_figures(where, 1000000);
    if (runs("flood")) flood_figures(where, ping);
    std::printf("\n");
    std::fflush(stdout);
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  int cycles = 100000;
  int modem_cycles = 5000;
  std::string only;
  std::vector<int> numbers;
  for (int i = 1; i < argc; ++i) {
    if (std::isdigit(static_cast<unsigned char>(argv[i][0]))) {
      numbers.push_back(std::atoi(argv[i]));
    } else {
      only = argv[i];
    }
  }
  if (numbers.size() > 0) cycles = numbers[0];
  if (numbers.size() > 1) modem_cycles = numbers[1];
  std::string const result = e2e::in_scene(
      [&]() -> std::string {
        try {
          return run(cycles, modem_cycles, only);
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
