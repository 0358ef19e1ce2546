// The RTCP packets of the RTP slots, byte for byte against an encoder written apart in
// Python (rtcp_vectors.py), inside their buffer to the byte, and as tshark dissects them.

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "slots/rtp/rtpc.h"
#include "tests/slots/rtp/rtcp_pcap.h"
#include "tests/support/child_process.h"

namespace {

constexpr std::uint32_t kSsrc = 0x01020304;
constexpr unsigned char kGuard = 0xEE;

struct Case {
  std::unique_ptr<RTPC::Msg> msg;
  unsigned size;
};

std::unique_ptr<RTPC::Msg> sdes(std::vector<std::pair<RTPC::SDES::Item::Type, std::string>> const& items) {
  auto packet = std::make_unique<RTPC::SDES>(kSsrc);
  for (auto const& [type, text] : items) packet->add(type, text);
  return packet;
}

// The cases of rtcp_vectors.py, by name.
std::map<std::string, Case> cases() {
  using Item = RTPC::SDES::Item;
  std::map<std::string, Case> all;
  all["bye"] = {std::make_unique<RTPC::BYE>(kSsrc, "session end"), 1024};
  all["sdes_empty"] = {sdes({}), 1024};
  all["bye_empty"] = {std::make_unique<RTPC::BYE>(kSsrc, ""), 1024};
  all["sdes_long_item"] = {sdes({{Item::CNAME, std::string(300, 'x')}}), 1024};
  all["sdes_item_not_fitting"] = {
      sdes({{Item::CNAME, std::string(200, 'a')}, {Item::EMAIL, std::string(100, 'b')}, {Item::PHONE, "z"}}), 300};
  all["buffer_of_7"] = {std::make_unique<RTPC::BYE>(kSsrc, "session end"), 7};
  all["bye_into_13"] = {std::make_unique<RTPC::BYE>(kSsrc, "session end"), 13};
  all["sdes_into_21"] = {sdes({{Item::CNAME, "abc"}, {Item::EMAIL, "defgh"}}), 21};
  all["sdes_into_24"] = {sdes({{Item::CNAME, "abc"}, {Item::EMAIL, "defgh"}}), 24};
  all["bye_long_reason_into_30"] = {std::make_unique<RTPC::BYE>(kSsrc, std::string(40, 'r')), 30};
  return all;
}

// Encodes into a buffer of `size` followed by guard bytes; the packet's bytes, and
// whether the guard is untouched.
std::string encode(Case const& c, bool& guard_kept) {
  std::vector<char> buf(c.size + 64, static_cast<char>(kGuard));
  unsigned const length = c.msg->encode(buf.data(), c.size);
  guard_kept = std::all_of(buf.begin() + c.size, buf.end(), [](char b) { return b == static_cast<char>(kGuard); });
  return std::string(buf.data(), std::min<std::size_t>(length, buf.size()));
}

std::string hex(std::string const& bytes) {
  static char const digits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char const b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 15];
  }
  return text.empty() ? "-" : text;
}

std::string spaced(std::string const& hex_text) {
  std::string text;
  for (std::size_t i = 0; i < hex_text.size(); i += 2) {
    if (i) text += ' ';
    text.append(hex_text, i, 2);
  }
  return text;
}

TEST(Rtcp, PacketsAreTheIndependentEncodersByteForByte) {
  test::require_tool("python3", "python3");
  test::TempDir dir("rtcp-vectors");
  test::ChildProcess python({"python3", GW_RTCP_VECTORS}, dir / "out", dir / "err");
  int status = 0;
  ASSERT_TRUE(python.wait(30000, &status));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << test::read_file(dir / "err");
  std::map<std::string, std::string> expected;
  std::istringstream lines(test::read_file(dir / "out"));
  for (std::string name, bytes; lines >> name >> bytes;) expected[name] = bytes;

  auto const all = cases();
  ASSERT_EQ(expected.size(), all.size());
  for (auto const& [name, c] : all) {
    bool guard_kept = false;
    EXPECT_EQ(hex(encode(c, guard_kept)), expected[name]) << name;
    EXPECT_TRUE(guard_kept) << name << ": written past its " << c.size << " bytes";
  }
}

TEST(Rtcp, TheRulesEdgeCasesAndThePacketsThatStayInsideTheirBuffer) {
  auto const all = cases();
  bool guard_kept = false;
  EXPECT_EQ(spaced(hex(encode(all.at("bye"), guard_kept))),
            "81 cb 00 04 01 02 03 04 0b 73 65 73 73 69 6f 6e 20 65 6e 64");
  EXPECT_EQ(spaced(hex(encode(all.at("sdes_empty"), guard_kept))), "81 ca 00 01 01 02 03 04");
  EXPECT_EQ(spaced(hex(encode(all.at("bye_empty"), guard_kept))), "81 cb 00 01 01 02 03 04");
  std::string const long_item = encode(all.at("sdes_long_item"), guard_kept);
  ASSERT_EQ(long_item.size(), 268u);
  EXPECT_EQ(static_cast<unsigned char>(long_item[9]), 255u) << "300 bytes of text cut to 255";
  // The second item does not fit; the third would, but the list ends at the second.
  std::string const cut = encode(all.at("sdes_item_not_fitting"), guard_kept);
  EXPECT_EQ(cut.size(), 212u);
  EXPECT_EQ(cut.find('z'), std::string::npos);
  EXPECT_EQ(hex(encode(all.at("buffer_of_7"), guard_kept)), "-");

  // Sizes that are no multiple of 4: the padding stays inside them.
  EXPECT_EQ(spaced(hex(encode(all.at("bye_into_13"), guard_kept))), "81 cb 00 02 01 02 03 04 03 73 65 73");
  EXPECT_TRUE(guard_kept);
  EXPECT_EQ(spaced(hex(encode(all.at("sdes_into_21"), guard_kept))),
            "81 ca 00 03 01 02 03 04 01 03 61 62 63 00 00 00");
  EXPECT_TRUE(guard_kept);
  EXPECT_EQ(encode(all.at("sdes_into_24"), guard_kept).size(), 24u);
  EXPECT_TRUE(guard_kept);
}

TEST(Rtcp, TsharkReadsThePacketsAsTheyWereMeant) {
  auto const all = cases();
  std::vector<std::string> packets;
  std::vector<std::string> names;
  for (auto const& [name, c] : all) {
    bool guard_kept = false;
    std::string const packet = encode(c, guard_kept);
    if (packet.empty()) continue;
    packets.push_back(packet);
    names.push_back(name);
  }
  std::vector<rtcp_pcap::Dissected> const seen = rtcp_pcap::dissect(packets);
  ASSERT_EQ(seen.size(), packets.size());
  for (std::size_t i = 0; i < seen.size(); ++i) {
    rtcp_pcap::Dissected const& d = seen[i];
    EXPECT_EQ(d.ssrc, "0x01020304") << names[i];
    if (names[i] == "sdes_empty") {
      // A chunk without its end marker: the packet the rules give, which the slots never
      // send, reads as malformed.
      EXPECT_FALSE(d.malformed.empty()) << names[i];
      continue;
    }
    EXPECT_EQ(d.malformed, "") << names[i] << ": " << d.expert;
    EXPECT_EQ(d.expert, "") << names[i];
  }
  auto const at = [&](std::string const& name) {
    return seen[static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin())];
  };
  EXPECT_EQ(at("bye").pt, "203");
  EXPECT_EQ(at("bye").sdes_text, "session end");
  EXPECT_EQ(at("bye_into_13").sdes_text, "ses");
  EXPECT_EQ(at("sdes_into_24").pt, "202");
  EXPECT_EQ(at("sdes_into_24").sdes_types, "1|3|0");
  EXPECT_EQ(at("sdes_into_24").sdes_text, "abc|defgh");
  EXPECT_EQ(at("sdes_into_21").sdes_types, "1|0");
  EXPECT_EQ(at("sdes_long_item").sdes_length, "255");
}

}  // namespace
