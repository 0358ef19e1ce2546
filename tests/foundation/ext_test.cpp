#include "foundation/ext.h"

#include <gtest/gtest.h>
#include <iomanip>
#include <sstream>

#include "tests/support/test_files.h"

namespace {

template <class T>
std::string text_of(T const& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

struct Layer {
  std::string name;
  void PutHeader(std::ostream& os) const { os << "SockStream[" << name << "]: "; }
  void PutShortInfo(std::ostream& os) const { os << name << "/short"; }
};

TEST(ExtPrefixes, HeaderShortInfoAndQuoted) {
  Layer const layer{"ctl"};
  std::ostringstream os;
  os << ext::header(&layer) << "can't open device: " << 7;
  EXPECT_EQ(os.str(), "SockStream[ctl]: can't open device: 7");
  EXPECT_EQ(text_of(ext::shortinfo(&layer)), "ctl/short");
  EXPECT_EQ(text_of(ext::quoted("abc")), "\"abc\"");
  char const* const text = "";
  EXPECT_EQ(text_of(ext::quoted(text)), "\"\"");
  EXPECT_EQ(text_of(ext::quoted(42)), "\"42\"");
}

TEST(ExtHex, BytesAreTwoUpperCaseDigitsEachFollowedByASpace) {
  unsigned char const bytes[] = {0x0A, 0xFF, 0x00};
  EXPECT_EQ(text_of(ext::hex(bytes, bytes + 2)), "0A FF ");
  EXPECT_EQ(text_of(ext::hex(bytes, bytes + 3)), "0A FF 00 ");
  EXPECT_EQ(text_of(ext::hex(bytes, bytes)), "");
  EXPECT_EQ(text_of(ext::hex("\x01\x7f", 2)), "01 7F ");
  EXPECT_EQ(text_of(ext::hex("", 0)), "");
}

TEST(ExtHex, NumberIsZeroFilledToTheWidth) {
  EXPECT_EQ(text_of(ext::hex(255u, 0)), "0xFF");
  EXPECT_EQ(text_of(ext::hex(255u, 4)), "0x00FF");
  EXPECT_EQ(text_of(ext::hex(0u, 0)), "0x0");
  EXPECT_EQ(text_of(ext::hex(0xDEADBEEFu, 2)), "0xDEADBEEF");
}

TEST(ExtHex, RestoresFlagsButLeavesASpaceAsFill) {
  unsigned char const bytes[] = {0xAB};
  std::ostringstream os;
  os << std::left << std::showpos << std::setfill('*');
  std::ios::fmtflags const before = os.flags();
  os << ext::hex(255u, 4);
  EXPECT_EQ(os.flags(), before);
  EXPECT_EQ(os.fill(), ' ');
  os.fill('*');
  os << ext::hex(bytes, bytes + 1);
  EXPECT_EQ(os.flags(), before);
  EXPECT_EQ(os.fill(), ' ');
  os << std::setw(4) << 12;
  EXPECT_EQ(os.str(), "0x00FFAB +12 ");
}

std::string table_text(void (*fill)(std::ostream&, ext::Table&)) {
  ext::Table table(5, 3);
  std::ostringstream os;
  fill(os, table);
  return os.str();
}

TEST(ExtTable, CellsAreCentredWithTheOddSpaceOnTheRight) {
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { os << t << "ab" << ext::nextrow << "x" << ext::nextrow; }),
            "| ab  | x |\n");
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { t.delimeter(os); }), "+-----+---+\n");
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { t.gap(os); }), "|     |   |\n");
}

TEST(ExtTable, SentryClosesAPartRowAndDropsUnfinishedText) {
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { os << t << "ab" << ext::nextrow << "lost"; }),
            "| ab  |   |\n");
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { os << t << "lost"; }), "");
}

TEST(ExtTable, LongTextIsWrittenWholeWithoutFill) {
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) { os << t << "1234567" << ext::nextrow; }),
            "|1234567|   |\n");
}

TEST(ExtTable, NothingIsWrittenPastTheLastColumnUntilBeginrow) {
  EXPECT_EQ(table_text([](std::ostream& os, ext::Table& t) {
              os << t << 1 << ext::nextrow << 2u << ext::nextrow << 3 << ext::nextrow;
              os << t << 4 << ext::nextrow;
              os << t << ext::beginrow << 5 << ext::nextrow;
            }),
            "|  1  | 2 |\n"
            "|  5  |   |\n");
}

TEST(ExtTable, WithoutColumnsRulesAreEmpty) {
  ext::Table table;
  std::ostringstream os;
  os << table << "x" << ext::nextrow << ext::delimeter;
  table.gap(os);
  EXPECT_EQ(os.str(), "");
  table.add(2);
  os << table << ext::delimeter;
  EXPECT_EQ(os.str(), "+--+\n");
}

std::string golden(char const* name) { return test::golden_file(__FILE__, name); }

// A status dump the way its writers stream it.
TEST(ExtTable, StatusDumpMatchesGolden) {
  ext::Table table(12, 8, 6);
  std::ostringstream os;
  os << table << ext::delimeter;
  os << table << ext::beginrow << "name" << ext::nextrow << "fd" << ext::nextrow << "mask" << ext::nextrow;
  os << table << ext::delimeter;
  os << table << ext::beginrow << "ctrl [" << 20001 << "]" << ext::nextrow << 7 << ext::nextrow << "IN"
     << ext::nextrow;
  os << table << ext::beginrow << std::string("watchdog") << ext::nextrow << -1 << ext::nextrow;
  os << table << ext::beginrow << "a name too long for it" << ext::nextrow << 12u << ext::nextrow << "OUT"
     << ext::nextrow;
  table.gap(os);
  os << table << ext::delimeter;
  EXPECT_EQ(os.str(), golden("ext_table.txt"));
}

}  // namespace
