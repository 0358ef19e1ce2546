#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <vector>

#include "foundation/packet.h"
#include "tests/support/test_files.h"

namespace {

Packet bytes(std::vector<std::uint8_t> const& v, unsigned head = 0) {
  Packet p;
  p.reserve_head(head);
  for (std::uint8_t b : v) p.put8(b);
  return p;
}

TEST(Packet, ReserveSetsTheWindow) {
  Packet p;
  EXPECT_TRUE(p.null());
  EXPECT_EQ(p.length(), 0u);
  p.reserve_head(0);
  EXPECT_EQ(p._headroom(), 0u);
  EXPECT_EQ(p.tailroom(), 65536u);
  Packet q;
  q.reserve_tail(0);
  EXPECT_EQ(q._headroom(), 65536u);
  EXPECT_EQ(q.tailroom(), 0u);
  Packet r;
  r.reserve_head(10);
  EXPECT_EQ(r._headroom(), 10u);
  r.reserve_head(6);  // an existing empty packet moves its window
  EXPECT_EQ(r._headroom(), 16u);
  r.reserve_tail(16);
  EXPECT_EQ(r._headroom(), 0u);
}

TEST(Packet, ByteOrderOfTheWordHelpers) {
  Packet p = bytes({});
  p.put16(0x1234);
  p.put16_b(0x1234);
  EXPECT_EQ(p.text(), "34 12 12 34");
  Packet h;
  h.reserve_head(4);
  h.push16_b(0x1234);
  h.push8(0xAB);
  EXPECT_EQ(h.text(), "AB 12 34");
  EXPECT_EQ(h.pull8(), 0xAB);
  EXPECT_EQ(h.pull16_b(), 0x1234);
  Packet l = bytes({0x12, 0x34});
  EXPECT_EQ(l.pull16(), 0x3412);
}

TEST(Packet, ReadingPastTheEndGivesZeros) {
  Packet p = bytes({});
  EXPECT_EQ(p.pull8(), 0);
  EXPECT_TRUE(p.empty());
  Packet one = bytes({0xAB});
  EXPECT_EQ(one.pull16_b(), 0xAB00);
  Packet s = bytes({5, 'a', 'b'});
  EXPECT_EQ(s.pull_string(), std::string("ab\0\0\0", 5));
}

TEST(Packet, StringsCarryOneLengthByte) {
  Packet p = bytes({});
  p.put(std::string("abc"));
  EXPECT_EQ(p.text(), "03 61 62 63");
  EXPECT_EQ(p.pull_string(), "abc");

  Packet long_text = bytes({});
  long_text.put(std::string(300, 'x'));
  EXPECT_EQ(long_text.length(), 256u) << "the length byte and the bytes that follow agree";
  EXPECT_EQ(long_text[0], 255);
  EXPECT_EQ(long_text.pull_string(), std::string(255, 'x'));
}

TEST(Packet, CopyOnWriteKeepsTheOtherHandleIntact) {
  unsigned const free_before = Packet::pool_free();
  Packet a = bytes({1, 2, 3});
  Packet b = a;
  EXPECT_EQ(Packet::pool_free(), free_before - 1);
  b.put8(4);
  EXPECT_EQ(Packet::pool_free(), free_before - 2);
  EXPECT_EQ(a.text(), "01 02 03");
  EXPECT_EQ(b.text(), "01 02 03 04");
  EXPECT_EQ(b._headroom(), a._headroom());

  // Const reads never copy.
  Packet c = a;
  Packet const& view = c;
  EXPECT_EQ(view[1], 2);
  EXPECT_EQ(view.text(), "01 02 03");
  EXPECT_EQ(Packet::pool_free(), free_before - 2);
  a.clear();
  c.clear();
  b.clear();
  EXPECT_EQ(Packet::pool_free(), free_before);
}

TEST(Packet, SubCopiesARange) {
  Packet p = bytes({0, 1, 2, 3, 4, 5});
  Packet s = p.sub(3, 2);
  EXPECT_EQ(s.text(), "02 03 04");
  EXPECT_EQ(p.text(), "00 01 02 03 04 05");
  EXPECT_EQ(p.sub(0, 6).length(), 0u);
}

TEST(Packet, AppendingAPacketToItself) {
  Packet p = bytes({7, 8});
  p.put(p);
  EXPECT_EQ(p.text(), "07 08 07 08");
}

TEST(Packet, TextAndDumps) {
  EXPECT_EQ(Packet().text(), "(null)");
  EXPECT_EQ(bytes({}).text(), "");
  Packet p = bytes({0x01, 0xAB}, 3);
  EXPECT_EQ(p.text(), "01 AB");
  std::ostringstream out;
  out << p;
  EXPECT_EQ(out.str(), "01 AB");

  std::ostringstream d;
  EXPECT_TRUE(p.dump(d));
  EXPECT_EQ(d.str(), "head=3, data=2, tail=65531");
  EXPECT_FALSE(Packet().dump(d));

  std::ostringstream c;
  EXPECT_TRUE(p.dump_context(c));
  EXPECT_EQ(c.str(), "dump: 1 ab");
  Packet empty = bytes({});
  std::ostringstream none;
  EXPECT_TRUE(empty.dump_context(none));
  EXPECT_EQ(none.str(), "");

  std::ostringstream info;
  info << PacketInfo(p) << PacketInfo(Packet());
  EXPECT_EQ(info.str(), "head=3, data=2, tail=65531\ndump:\n 1 ab\n(null)\n");
}

TEST(Packet, ExhaustedPoolThrowsAndRecovers) {
  std::vector<Packet> held = test::take_every_packet_buffer();
  EXPECT_EQ(Packet::pool_free(), 0u);
  EXPECT_GE(held.size(), 1000u);

  // A shared handle stays shared, and unchanged, when its private copy cannot be had.
  Packet shared = held.front();
  EXPECT_THROW(shared.put8(1), std::bad_alloc);
  EXPECT_EQ(shared.get(), held.front().get());

  _Packet* const released = held.back().get();
  held.pop_back();
  Packet again;
  again.reserve_head(0);
  EXPECT_EQ(again.get(), released) << "the block just released is reused";
}

using PacketDeathTest = ::testing::Test;

TEST_F(PacketDeathTest, BrokenInvariantsAreReportedAndEndTheProcess) {
  EXPECT_DEATH(
      {
        Packet p = bytes({1});
        p.put(p.tailroom() + 1);
      },
      "PACKET ASSERTION FAILED!\nlen<=_tailroom\\(\\)\nhead=0, data=1, tail=65535\ndump:\n 1\n");
  EXPECT_DEATH(bytes({1, 2}).pull(3), "len<=_length\\(\\)");
  EXPECT_DEATH(bytes({1, 2}).trim(3), "len<=_length\\(\\)");
  EXPECT_DEATH(bytes({1, 2}).push(1), "len<=_headroom\\(\\)");
  EXPECT_DEATH(bytes({1, 2})[-1], "index out of range");
  EXPECT_DEATH(bytes({1, 2})[2], "index out of range");
  EXPECT_DEATH(bytes({1, 2}).sub(2, 1), "start\\+len<=_length\\(\\)");
  EXPECT_DEATH(bytes({1, 2}).sub(0, 3), "start<=_length\\(\\)");
  EXPECT_DEATH(Packet().data(), "PACKET ASSERTION FAILED!\nnull packet\n\\(null\\)");
  EXPECT_DEATH(Packet().reserve_head(65537), "length>packet_max_size");
  EXPECT_DEATH(Packet()._length(), "SMART POINTER ASSERTION!");
}

}  // namespace
