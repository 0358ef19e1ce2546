#include "tests/slots/rtp/rtcp_pcap.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <fstream>
#include <sstream>

#include "tests/support/child_process.h"

namespace rtcp_pcap {

namespace {

constexpr std::uint16_t kSourcePort = 30001;
constexpr std::uint16_t kDestinationPort = 40001;
constexpr std::uint32_t kLinkRawIp = 101;

void put16(std::string& out, unsigned value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value);
}

template <class T>
void put_host(std::string& out, T value) {
  out.append(reinterpret_cast<char const*>(&value), sizeof value);
}

// An IPv4 header and a UDP header (no checksum) before the payload.
std::string datagram(std::string const& payload) {
  std::string ip = {'\x45', '\0'};
  put16(ip, static_cast<unsigned>(28 + payload.size()));
  put16(ip, 0);
  put16(ip, 0x4000);
  ip += {'\x40', '\x11', '\0', '\0', '\x7f', '\0', '\0', '\x01', '\x7f', '\0', '\0', '\x01'};
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < ip.size(); i += 2)
    sum += static_cast<unsigned char>(ip[i]) << 8 | static_cast<unsigned char>(ip[i + 1]);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  ip[10] = static_cast<char>(~sum >> 8);
  ip[11] = static_cast<char>(~sum);
  put16(ip, kSourcePort);
  put16(ip, kDestinationPort);
  put16(ip, static_cast<unsigned>(8 + payload.size()));
  put16(ip, 0);
  return ip + payload;
}

}  // namespace

std::vector<Dissected> dissect(std::vector<std::string> const& packets) {
  std::vector<Dissected> seen;
  test::require_tool("tshark", "tshark");
  if (::testing::Test::HasFatalFailure()) return seen;
  test::TempDir dir("rtcp-pcap");
  std::string file;
  put_host<std::uint32_t>(file, 0xa1b2c3d4);
  put_host<std::uint16_t>(file, 2);
  put_host<std::uint16_t>(file, 4);
  put_host<std::uint32_t>(file, 0);
  put_host<std::uint32_t>(file, 0);
  put_host<std::uint32_t>(file, 65535);
  put_host<std::uint32_t>(file, kLinkRawIp);
  std::uint32_t second = 0;
  for (std::string const& packet : packets) {
    std::string const d = datagram(packet);
    put_host<std::uint32_t>(file, ++second);
    put_host<std::uint32_t>(file, 0);
    put_host<std::uint32_t>(file, static_cast<std::uint32_t>(d.size()));
    put_host<std::uint32_t>(file, static_cast<std::uint32_t>(d.size()));
    file += d;
  }
  std::ofstream(dir / "rtcp.pcap", std::ios::binary) << file;

  std::vector<std::string> argv = {"tshark", "-r", dir / "rtcp.pcap", "-d",
                                   "udp.port==" + std::to_string(kDestinationPort) + ",rtcp", "-T", "fields",
                                   "-E", "occurrence=a", "-E", "aggregator=|"};
  for (char const* field : {"rtcp.pt", "rtcp.sc", "rtcp.ssrc.identifier", "rtcp.sdes.type", "rtcp.sdes.length",
                            "rtcp.sdes.text", "_ws.malformed", "_ws.expert.message"}) {
    argv.push_back("-e");
    argv.push_back(field);
  }
  test::ChildProcess tshark(argv, dir / "out", dir / "err");
  int status = 0;
  EXPECT_TRUE(tshark.wait(60000, &status)) << "tshark -r did not end in 60 s";
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "tshark -r: " << test::describe_status(status) << "\n" << test::read_file(dir / "err");
  std::istringstream lines(test::read_file(dir / "out"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> const f = test::split(line, '\t');
    if (f.size() != 8) {
      ADD_FAILURE() << "tshark line: " << line;
      continue;
    }
    seen.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]});
  }
  return seen;
}

}  // namespace rtcp_pcap
