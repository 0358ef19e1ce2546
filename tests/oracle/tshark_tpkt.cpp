#include "tests/oracle/tshark_tpkt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace oracle {

using namespace std::chrono_literals;

std::string frame_of(std::string const& body) {
  std::size_t const length = body.size() + 4;
  return std::string{3, 0, static_cast<char>(length >> 8), static_cast<char>(length & 0xFF)} + body;
}

// Bytes that differ from one message to the next, so that a swapped or shifted body shows.
std::string pattern(std::size_t size, unsigned seed) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 7 + seed * 13) & 0xFF);
  return text;
}

// ---------------------------------------------------------------- the environment

// The capture must hold this session alone: ctest runs the test (as root) in a fresh
// network namespace, where loopback is the only interface.
void expect_private_network() {
  struct if_nameindex* const names = ::if_nameindex();
  ASSERT_NE(names, nullptr) << std::strerror(errno);
  std::vector<std::string> interfaces;
  for (struct if_nameindex* i = names; i->if_index != 0; ++i) interfaces.emplace_back(i->if_name);
  ::if_freenameindex(names);
  ASSERT_EQ(interfaces, std::vector<std::string>{"lo"})
      << "this test is not in a private network namespace: run it through ctest, which starts it as "
         "unshare --net sh -c 'ip link set lo up && exec <test>' (needs root)";
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  int const probe = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(probe, 0) << std::strerror(errno);
  int const got = ::ioctl(probe, SIOCGIFFLAGS, &request);
  ::close(probe);
  ASSERT_EQ(got, 0) << std::strerror(errno);
  ASSERT_TRUE(request.ifr_flags & IFF_UP) << "loopback is down in the namespace";
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "tpkt-tshark-XXXXXX").string();
  if (::mkdtemp(pattern.data())) m_path = pattern;
}

TempDir::~TempDir() {
  // A failed run keeps its capture for a look with tshark or wireshark.
  if (::testing::Test::HasFailure())
    std::cerr << "capture kept in " << m_path << std::endl;
  else if (!m_path.empty())
    std::filesystem::remove_all(m_path);
}

Capture::Capture(std::string const& folder, int port, std::string filter)
    : m_port(port), m_filter(std::move(filter)), m_file(folder + "/session.pcapng"), m_err(folder + "/capture.err") {}

Capture::~Capture() = default;

// "Capturing on" comes before dumpcap has the interface open; "Capture started." comes
// once it has, with its filter set.
void Capture::start() {
  m_tshark = std::make_unique<test::ChildProcess>(
      std::vector<std::string>{"tshark", "-i", "lo", "-f", m_filter.empty() ? "tcp port " + std::to_string(m_port) : m_filter,
                               "-w", m_file},
      "/dev/null", m_err);
  ASSERT_GT(m_tshark->pid(), 0) << "fork: " << std::strerror(errno);
  auto const deadline = std::chrono::steady_clock::now() + 30s;
  for (;;) {
    std::string const said = test::read_file(m_err);
    if (said.find("Capturing on") != std::string::npos && said.find("Capture started.") != std::string::npos)
      return;
    if (int status = 0; m_tshark->ended(&status))
      FAIL() << "tshark ended before capturing (" << test::describe_status(status) << "):\n" << said;
    if (std::chrono::steady_clock::now() > deadline) FAIL() << "tshark did not start capturing in 30 s:\n" << said;
    std::this_thread::sleep_for(20ms);
  }
}

// The kernel hands packets to dumpcap in blocks and dumpcap writes them out every half
// second: a capture stopped at once would miss the end of the session.
void Capture::stop() {
  ASSERT_TRUE(m_tshark && !m_tshark->ended());
  auto const deadline = std::chrono::steady_clock::now() + 30s;
  auto size = [&] {
    std::error_code ignored;
    return std::filesystem::file_size(m_file, ignored);
  };
  auto last = size();
  auto steady_since = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - steady_since < 1s && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(50ms);
    if (auto const now = size(); now != last) {
      last = now;
      steady_since = std::chrono::steady_clock::now();
    }
  }
  ::kill(m_tshark->pid(), SIGINT);
  int status = 0;
  ASSERT_TRUE(m_tshark->wait(30000, &status)) << "tshark did not end in 30 s after SIGINT";
  std::string const said = test::read_file(m_err);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "tshark: " << test::describe_status(status) << "\n" << said;
  ASSERT_NE(said.find("packets captured"), std::string::npos) << said;
}

// ---------------------------------------------------------------- reading the capture


namespace {

char const* const kFields[] = {
    "frame.number", "tcp.srcport", "tcp.len",  "tpkt.version", "tpkt.reserved", "tpkt.length",
    "data.len",     "data.data",   "tpkt.continuation_data",    "_ws.malformed", "_ws.expert.severity",
    "_ws.expert.message",  // last: free text
};

using test::split;

}  // namespace

void dissect(std::string const& folder, std::string const& file, int port, std::vector<Row>& rows) {
  std::vector<std::string> argv = {"tshark", "-r", file, "-d", "tcp.port==" + std::to_string(port) + ",tpkt",
                                   "--disable-protocol", "cotp", "-o", "tcp.desegment_tcp_streams:TRUE",
                                   "-o", "tpkt.desegment:TRUE", "-T", "fields", "-E", "occurrence=a",
                                   "-E", "aggregator=|", "-E", "header=n"};
  for (char const* field : kFields) {
    argv.push_back("-e");
    argv.push_back(field);
  }
  std::string const out = folder + "/dissection.txt", err = folder + "/dissection.err";
  test::ChildProcess tshark(argv, out, err);
  ASSERT_GT(tshark.pid(), 0) << std::strerror(errno);
  int status = 0;
  ASSERT_TRUE(tshark.wait(120000, &status)) << "tshark -r did not end in 120 s";
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "tshark -r: " << test::describe_status(status) << "\n" << test::read_file(err);
  for (std::string const& line : split(test::read_file(out), '\n')) {
    if (line.empty()) continue;
    std::vector<std::string> const f = split(line, '\t');
    ASSERT_EQ(f.size(), std::size(kFields)) << line.substr(0, 200);
    Row row;
    row.frame = f[0];
    row.source_port = std::stoi(f[1]);
    row.tcp_length = std::stoi(f[2]);
    row.version = split(f[3], '|');
    row.reserved = split(f[4], '|');
    row.length = split(f[5], '|');
    row.data_length = split(f[6], '|');
    row.data = split(f[7], '|');
    row.continuation = split(f[8], '|');
    row.malformed = split(f[9], '|');
    row.severity = split(f[10], '|');
    row.expert = f[11];
    rows.push_back(std::move(row));
  }
}

namespace {

std::string unhex(std::string const& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}



// Tshark's expert severity for errors (malformed packets among them).
constexpr long kExpertError = 0x00800000;

}  // namespace

Wire read_wire(std::vector<Row> const& rows, int server_port) {
  Wire wire;
  for (Row const& row : rows) {
    Direction& d = row.source_port == server_port ? wire.to_client : wire.to_server;
    std::string const where = "frame " + row.frame + (row.source_port == server_port ? " (to client)" : " (to server)");
    auto complain = [&](std::string const& what) { wire.complaints.push_back(where + ": " + what); };
    if (!row.malformed.empty()) complain("malformed: " + row.expert);
    for (std::string const& s : row.severity)
      if (std::stol(s) >= kExpertError) complain("expert error: " + row.expert);
    if (!row.continuation.empty()) complain("bytes outside any frame: " + row.continuation[0].substr(0, 40));
    if (row.tcp_length > 0) {
      ++d.segments;
      if (row.length.empty()) ++d.segments_no_frame;
    }
    d.most_frames = std::max(d.most_frames, row.length.size());
    if (row.version.size() != row.length.size() || row.reserved.size() != row.length.size() ||
        row.data.size() != row.data_length.size()) {
      complain("header fields do not pair up");
      continue;
    }
    // An empty body has no data item: walk the lengths to pair the bodies with them.
    std::size_t next_data = 0;
    for (std::size_t i = 0; i < row.length.size(); ++i) {
      int const length = std::stoi(row.length[i]);
      if (row.version[i] != "3") complain("version " + row.version[i]);
      if (row.reserved[i] != "0") complain("reserved " + row.reserved[i]);
      if (length < 4) {
        complain("length " + row.length[i]);
        continue;
      }
      std::string body;
      if (length > 4) {
        if (next_data >= row.data.size()) {
          complain("no body for a frame of length " + row.length[i]);
          continue;
        }
        if (std::stoi(row.data_length[next_data]) != length - 4)
          complain("length " + row.length[i] + " with a body of " + row.data_length[next_data] + " bytes");
        body = unhex(row.data[next_data++]);
      }
      d.bodies.push_back(body);
    }
    if (next_data != row.data.size()) complain("a body outside any frame");
  }
  return wire;
}

std::string show(std::vector<std::string> const& bodies) {
  std::ostringstream text;
  for (std::string const& b : bodies) {
    text << "\n  " << b.size() << " bytes";
    if (!b.empty()) text << ", first " << std::hex << (static_cast<unsigned>(b[0]) & 0xFF) << std::dec;
  }
  return text.str();
}

int connect_to(int port) {
  int const fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  int const on = 1;
  // Each write leaves as its own segment: the split pieces must reach the wire apart.
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  timeval const patience{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
  return fd;
}

std::string write_all(int fd, char const* data, std::size_t size) {
  while (size > 0) {
    ssize_t const n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string("write: ") + std::strerror(errno);
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return {};
}

std::string read_exactly(int fd, std::size_t size, std::string& into) {
  into.clear();
  char buffer[65536];
  while (into.size() < size) {
    ssize_t const n = ::read(fd, buffer, std::min(sizeof buffer, size - into.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::string("read: ") + std::strerror(errno);
    if (n == 0) return "read: the server closed the link";
    into.append(buffer, static_cast<std::size_t>(n));
  }
  return {};
}

}  // namespace oracle
