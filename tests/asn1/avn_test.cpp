// Value notation as the log lines show it, checked against golden text.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/asn1/test_types.h"
#include "tests/support/test_files.h"

namespace {

using namespace test_types;

std::string golden(char const* name) { return test::golden_file(__FILE__, name); }

std::string printed(AbstractData const& value) {
  std::ostringstream os;
  os << value;
  return os.str();
}

TEST(ValueNotation, LayoutOfNestedValues) {
  std::ostringstream all;

  SEQUENCE message(&kMessage);
  message.includeOptionalField(0, 0);
  static_cast<INTEGER&>(*message.getField(0)) = 5;
  static_cast<CHOICE&>(*message.getField(2)).select(0);
  all << message << "\n--\n";

  SEQUENCE outer(&kOuter);
  auto& e = static_cast<SEQUENCE&>(*outer.getField(0));
  static_cast<BOOLEAN&>(*e.getField(0)) = true;
  e.includeOptionalField(2, 3);
  static_cast<IA5String&>(*e.getField(3)) = std::string("hi");
  e.includeOptionalField(3, 4);
  static_cast<CHOICE&>(*e.getField(4)).select(2);
  static_cast<INTEGER&>(*outer.getField(1)) = -5;
  all << outer << "\n--\n";

  Integers list;
  list.push_back(INTEGER(1, &INTEGER::theInfo));
  list.push_back(INTEGER(2, &INTEGER::theInfo));
  all << list << "\n--\n" << Integers() << "\n--\n";

  SEQUENCE bare(&kExtensibleOld);
  all << bare << "\n";
  EXPECT_EQ(all.str(), golden("value_notation.txt"));
}

TEST(ValueNotation, SimpleKinds) {
  EXPECT_EQ(printed(Null()), "NULL");
  EXPECT_EQ(printed(BOOLEAN(true)), "TRUE");
  EXPECT_EQ(printed(IntAll(4294967295u)), "4294967295");
  EXPECT_EQ(printed(INTEGER(-7, &INTEGER::theInfo)), "-7");
  EXPECT_EQ(printed(IntSigned(static_cast<unsigned>(-7))), "-7");
  EXPECT_EQ(printed(OCTET_STRING()), "''H");
  EXPECT_EQ(printed(OCTET_STRING(std::vector<char>{0x0a, char(0xff)})), "'0a ff'H");
  EXPECT_EQ(printed(BIT_STRING()), "''B");
  BIT_STRING bits;
  bits.resize(3);
  bits.set(1, true);
  EXPECT_EQ(printed(bits), "'010'B");
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u}) oid.append(arc);
  EXPECT_EQ(printed(oid), "{ 1 2 840 }");
  EXPECT_EQ(printed(GeneralizedTime("20240102030405Z")), "\"20240102030405Z\"");
  EXPECT_EQ(printed(BMPString(std::wstring(L"ab"))), "\"ab\"");
  std::ostringstream hex;
  hex << std::hex << INTEGER(255, &INTEGER::theInfo);
  EXPECT_EQ(hex.str(), "255") << "always decimal";
}

TEST(ValueNotation, EnumeratedByTheFirstEntryThatCarriesTheValue) {
  ENUMERATED e(&kJump);
  for (auto [value, text] : std::vector<std::pair<int, std::string>>{
           {0, "a"}, {5, "b"}, {6, "c"}, {123, "d"}, {1, "1"}, {124, "124"}, {-3, "-3"}}) {
    e.setFromInt(value);
    EXPECT_EQ(printed(e), text) << value;
  }
  ENUMERATED cause(&kCause);
  cause.setFromInt(13);
  EXPECT_EQ(printed(cause), "13") << "above the maximum prints as a number";
}

TEST(ValueNotation, StringsCannotForgeLogLines) {
  IA5String s(std::string("a\nb\"c\\d\x7f\x01\xe9"));
  EXPECT_EQ(printed(s), "\"a\\x0ab\\\"c\\\\d\\x7f\\x01\xe9\"");
}

TEST(ValueNotation, FailuresAndBadStreams) {
  SEQUENCE message(&kMessage);  // pdu has no selection
  std::ostringstream os;
  os << message;
  EXPECT_TRUE(os.fail());
  EXPECT_EQ(os.str(), "{\n  pdu ") << "what was written before the failure stays";
  EXPECT_EQ(message.asValueNotation(), "{\n  pdu ");

  std::ostringstream bad;
  bad.setstate(std::ios::failbit);
  bad << Null();
  EXPECT_EQ(bad.str(), "");
  std::ostringstream empty_open;
  empty_open << OpenData();
  EXPECT_TRUE(empty_open.fail());
}

TEST(CoderEnv, RulesAndTheOutputOnFailure) {
  CoderEnv env;
  env.set_encodingRule(static_cast<CoderEnv::EncodingRules>(7));
  std::vector<char> out = {'x'};
  EXPECT_FALSE(encode(Null(), &env, std::back_inserter(out)));
  EXPECT_EQ(out.size(), 1u);
  env.set_encodingRule(CoderEnv::avn);
  ASSERT_TRUE(encode(BOOLEAN(true), &env, std::back_inserter(out)));
  EXPECT_EQ(std::string(out.begin(), out.end()), "xTRUE");
  env.set_encodingRule(CoderEnv::per);
  EXPECT_FALSE(encode(CHOICE(&kBody), &env, std::back_inserter(out)));
  EXPECT_EQ(out.size(), 5u) << "a failed encoding writes nothing";
}

}  // namespace
