// The value model: construction from records, comparison, copies, names.

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <typeinfo>

#if defined(__SANITIZE_ADDRESS__)
#define GW_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define GW_TEST_ASAN 1
#endif
#endif
#ifdef GW_TEST_ASAN
#include <sanitizer/asan_interface.h>
#endif

#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;

TEST(Helpers, CountBitsAndByteComparison) {
  EXPECT_EQ(CountBits(0), 32u);
  EXPECT_EQ(CountBits(1), 0u);
  EXPECT_EQ(CountBits(2), 1u);
  EXPECT_EQ(CountBits(3), 2u);
  EXPECT_EQ(CountBits(256), 8u);
  EXPECT_EQ(CountBits(257), 9u);
  EXPECT_EQ(CountBits(0x80000001u), 32u);

  auto cmp = [](std::string const& a, std::string const& b) {
    auto const* x = reinterpret_cast<unsigned char const*>(a.data());
    auto const* y = reinterpret_cast<unsigned char const*>(b.data());
    return lexicographic_compare_bytes(x, x + a.size(), y, y + b.size());
  };
  EXPECT_EQ(cmp("abc", "abd"), -1);
  EXPECT_EQ(cmp("ab", "abc"), -1);
  EXPECT_EQ(cmp("abc", "ab"), 1);
  EXPECT_EQ(cmp("", ""), 0);
  EXPECT_EQ(cmp("\xFF", std::string(1, '\0')), 255);
}

TEST(Integers, WrappingComparisonAndUnsignedViews) {
  INTEGER five(5, &INTEGER::theInfo), seven(7, &INTEGER::theInfo);
  EXPECT_EQ(five.compare(seven), -2);
  INTEGER big(INT_MAX, &INTEGER::theInfo), minus(-1, &INTEGER::theInfo);
  EXPECT_LT(big.compare(minus), 0) << "the difference wraps";
  EXPECT_NE(big, minus);
  INTEGER min(INT_MIN, &INTEGER::theInfo);
  EXPECT_NE(min.compare(big), 0);

  IntAll all(4294967295u);
  EXPECT_EQ(all.getValue(), 4294967295u);
  EXPECT_EQ(static_cast<INTEGER&>(all).getValue(), -1);
  using Int0_127 = Constrained_INTEGER<FixedConstraint, 0, 127>;
  EXPECT_EQ(5u + Int0_127(7u), 12u);

  EXPECT_TRUE(IntSigned(static_cast<unsigned>(-5)).isStrictValid()) << "signed range test below zero";
  EXPECT_FALSE(Int0_1023(1024u).isStrictValid());
  EXPECT_TRUE(INTEGER(99, &kExtSigned).isValid()) << "an extensible range admits every value";
}

TEST(Enumerated, NamesFollowTheValueRule) {
  ENUMERATED cause(&kCause);
  cause.setFromInt(12);
  EXPECT_EQ(cause.getName(), "destroyInProgress");
  cause.setFromInt(13);
  EXPECT_TRUE(cause.getName().empty());
  cause.setFromInt(-1);
  EXPECT_TRUE(cause.getName().empty());
  EXPECT_TRUE(cause.isStrictlyValid()) << "a negative value passes the strict test";

  ENUMERATED jump(&kJump);
  std::vector<std::pair<int, std::string>> const names = {{0, "a"}, {5, "b"}, {6, "c"}, {123, "d"}, {1, ""}, {7, ""}};
  for (auto const& [value, name] : names) {
    jump.setFromInt(value);
    EXPECT_EQ(jump.getName(), name) << value;
  }
  ENUMERATED copy(&kCause);
  copy = cause;
  EXPECT_EQ(copy.asInt(), -1);
  EXPECT_EQ(copy.info(), &kCause);
}

TEST(ObjectIdentifier, ContentsOctets) {
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u}) oid.append(arc);
  std::vector<char> out;
  oid.encodeCommon(out);
  EXPECT_EQ(out, (std::vector<char>{0x2A, char(0x86), 0x48}));

  OBJECT_IDENTIFIER one;
  one.append(1);
  one.encodeCommon(out);
  EXPECT_TRUE(out.empty());

  OBJECT_IDENTIFIER d;
  char const three[] = {0x2A, 0x03};
  ASSERT_TRUE(d.decodeCommon(three, 2));
  EXPECT_EQ(d.levels(), 3u);
  EXPECT_EQ(d[2], 3u);
  char const joint[] = {85};
  ASSERT_TRUE(d.decodeCommon(joint, 1));
  EXPECT_EQ(d[0], 2u);
  EXPECT_EQ(d[1], 5u);
  char const open_end[] = {0x2A, char(0x81)};
  EXPECT_FALSE(d.decodeCommon(open_end, 2));
  EXPECT_TRUE(d.decodeCommon(nullptr, 0));
  EXPECT_EQ(d.levels(), 0u);
  char const huge[] = {0x2A, char(0x90), char(0x80), char(0x80), char(0x80), 0x00};  // 2^32
  EXPECT_FALSE(d.decodeCommon(huge, 6)) << "an arc is 32 bits";
}

TEST(GeneralizedTime, TextBothWays) {
  GeneralizedTime t;
  EXPECT_EQ(t.get(), "00010101000000");
  t.millisecond = 5;
  EXPECT_EQ(t.get(), "00010101000000.005");
  t.utc = true;
  t.offset = 90;
  EXPECT_EQ(t.get(), "00010101000000.005Z");
  GeneralizedTime s("20240102030405.25+0130");
  EXPECT_EQ(s.millisecond, 250);
  EXPECT_EQ(s.offset, 90);
  EXPECT_EQ(s.get(), "20240102030405.250+0130");
  GeneralizedTime m("20240102030405-0130");
  EXPECT_EQ(m.offset, -90);
  // Short or empty texts never read out of bounds and keep what they do not carry.
  GeneralizedTime partial("2024");
  EXPECT_EQ(partial.year, 2024);
  EXPECT_EQ(partial.month, 1);
  GeneralizedTime empty("");
  EXPECT_EQ(empty.get(), "00010101000000");
  GeneralizedTime z("Z");
  EXPECT_TRUE(z.utc);

  GeneralizedTime a("20240102030405+0100"), b("20240102030405-0500");
  EXPECT_EQ(a.compare(b), 0) << "the offset takes no part";
  EXPECT_TRUE(GeneralizedTime("20230231000000").isValid());
  EXPECT_FALSE(GeneralizedTime("20231301000000").isValid());
}

TEST(GeneralizedTime, ExtremeFieldsSetByCodeAreWrittenWhole) {
  GeneralizedTime t(INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, INT_MIN, false);
  std::string const min = "-2147483648";
  EXPECT_EQ(t.get(), min + min + min + min + min + min + "." + min + "-3579139408");
  t.offset = INT_MAX;
  t.millisecond = INT_MAX;
  EXPECT_EQ(t.get(), min + min + min + min + min + min + ".2147483647+3579139407");
}

TEST(Strings, CharacterSetsSizesAndComparison) {
  EXPECT_EQ(AbstractString(&NumericString::theInfo, "12 34").find_first_invalid(), -1);
  EXPECT_EQ(AbstractString(&NumericString::theInfo, "12a4").find_first_invalid(), 2);
  EXPECT_EQ(AbstractString(&PrintableString::theInfo, "ab@c").find_first_invalid(), 2);
  EXPECT_EQ(AbstractString(&VisibleString::theInfo, "a\tb").find_first_invalid(), 1);
  EXPECT_EQ(IA5String(std::string("\x80"), &kHostName).find_first_invalid(), -1) << "no set to consult";
  EXPECT_FALSE(IA5String(std::string(65, 'x'), &kHostName).isValid());
  EXPECT_FALSE(IA5String(std::string(65, 'x'), &kHostName).isStrictlyValid());
  EXPECT_FALSE(IA5String(std::string(), &kHostName).isValid());

  BIT_STRING bits;
  bits.resize(9);
  EXPECT_EQ(bits.getData().size(), 2u);
  bits.set(8, true);
  EXPECT_EQ(static_cast<unsigned char>(bits.getData()[1]), 0x80);
  EXPECT_FALSE(bits[9]);
  BIT_STRING a, b;
  a.resize(8);
  b.resize(8);
  a.set(0, true);
  b.set(1, true);
  EXPECT_EQ(a.compare(b), 64);
  BIT_STRING seven, nine;
  seven.resize(7);
  nine.resize(9);
  nine.resize(7);
  nine.resize(9);
  EXPECT_EQ(nine.getData()[1], 0) << "bits beyond a shrunk count come back as 0";
  seven.resize(7);
  EXPECT_EQ(seven.compare(nine), -2);

  OCTET_STRING x(std::vector<char>{1, 2}), y(std::vector<char>{1, 2, 0});
  EXPECT_EQ(x.compare(y), -1);
  EXPECT_EQ(static_cast<std::string>(x), std::string("\x01\x02"));

  BMPString bmp;
  EXPECT_FALSE(bmp.legalCharacter(65536));
  EXPECT_FALSE(bmp.legalCharacter(-1));
  EXPECT_TRUE(bmp.legalCharacter(65535));
  EXPECT_FALSE(is_space_or_newline('\t'));
  EXPECT_FALSE(is_space_or_newline('\r'));
  EXPECT_TRUE(is_space_or_newline('\n'));
}

TEST(Sequence, FieldsAndPresence) {
  SEQUENCE m(&kMessage);
  EXPECT_EQ(m.getField(0), nullptr);
  EXPECT_EQ(m.getField(1), nullptr);
  ASSERT_NE(m.getField(2), nullptr) << "mandatory fields exist from construction";
  EXPECT_EQ(m.optionalMap().size(), 2u);
  EXPECT_FALSE(m.hasOptionalField(0));
  m.includeOptionalField(1, 1);
  EXPECT_EQ(m.optionalMap().octets()[0], 0x40);
  static_cast<Int0_1023&>(*m.getField(1)) = 9u;
  m.removeOptionalField(1);
  m.includeOptionalField(1, 1);
  EXPECT_EQ(static_cast<Int0_1023&>(*m.getField(1)).getValue(), 9u) << "the old field object stays";

  SEQUENCE e(&kExtensible);
  e.includeOptionalField(1 + 2, 4);  // the third extension
  EXPECT_EQ(e.extensionMap().size(), 3u);
  EXPECT_EQ(e.extensionMap().octets()[0], 0x20);
  EXPECT_FALSE(e.hasOptionalField(1));
  EXPECT_FALSE(e.hasOptionalField(2));
  EXPECT_TRUE(e.hasOptionalField(3));
  EXPECT_STREQ(e.getFieldName(4), "z");
  EXPECT_EQ(e.getFieldTag(4), context(4));
}

TEST(Sequence, ComparisonOrderAndDeepCopies) {
  SEQUENCE a(&kExtensible), b(&kExtensible);
  EXPECT_EQ(a, b);
  a.includeOptionalField(0, 1);
  EXPECT_EQ(a.compare(b), 1) << "a present optional field sorts after an absent one";
  b.includeOptionalField(0, 1);
  EXPECT_EQ(a, b);
  a.includeOptionalField(1, 2);
  b.includeOptionalField(3, 4);
  EXPECT_GT(a.compare(b), 0) << "the first extension decides";

  SEQUENCE copy(a);
  EXPECT_EQ(copy, a);
  static_cast<INTEGER&>(*copy.getField(1)) = 77;
  EXPECT_NE(copy, a);
  std::unique_ptr<AbstractData> clone(a.clone());
  EXPECT_EQ(clone->compare(a), 0);
  copy = a;
  EXPECT_EQ(copy, a);
}

TEST(Choice, SelectionRules) {
  CHOICE c(&kBody);
  EXPECT_EQ(c.getSelectionName(), nullptr);
  EXPECT_EQ(c.compare(CHOICE(&kBody)), 0);
  ASSERT_TRUE(c.select(2));
  AbstractData* const kept = c.getSelection();
  ASSERT_TRUE(c.select(2));
  EXPECT_EQ(c.getSelection(), kept) << "selecting the current alternative keeps it";
  EXPECT_STREQ(c.getSelectionName(), "number");
  EXPECT_FALSE(c.select(3));
  EXPECT_EQ(c.currentSelection(), CHOICE::unknownSelection);
  EXPECT_EQ(c.getSelection(), nullptr);
  EXPECT_TRUE(c.isUnknownSelection());
}

TEST(SequenceOf, ElementsResizeAndCompare) {
  Integers list;
  list.resize(3);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[2].getValue(), 0);
  EXPECT_EQ(list[2].info(), &INTEGER::theInfo);
  list.resize(1);
  EXPECT_EQ(list.size(), 1u);

  auto make = [](std::initializer_list<int> values) {
    Integers l;
    for (int v : values) l.push_back(INTEGER(v, &INTEGER::theInfo));
    return l;
  };
  EXPECT_EQ(make({1, 2}).compare(make({1, 2, 3})), -1);
  EXPECT_EQ(make({2}).compare(make({1, 5})), 1);

  Integers l = make({1, 2, 3});
  auto next = l.erase(l.begin());
  EXPECT_EQ(next->getValue(), 2);
  int sum = 0;
  for (INTEGER const& i : l) sum += i.getValue();
  EXPECT_EQ(sum, 5);
  l.insert(l.SEQUENCE_OF_Base::begin(), 2, INTEGER(9, &INTEGER::theInfo));
  EXPECT_EQ(l.size(), 4u);
  EXPECT_EQ(l[1].getValue(), 9);
  // Many elements move out of the inline storage and keep their order.
  for (int i = 0; i < 20; ++i) l.push_back(INTEGER(i, &INTEGER::theInfo));
  EXPECT_EQ(l[23].getValue(), 19);
  Integers copy(l);
  EXPECT_EQ(copy, l);
}

TEST(OpenData, Comparison) {
  OpenData empty, other;
  EXPECT_EQ(empty.compare(other), 0);
  OpenData full(new INTEGER(1, &INTEGER::theInfo), &OpenData::theInfo);
  EXPECT_EQ(full.compare(empty), 1);
  EXPECT_EQ(empty.compare(full), -1);
}

// Values made by a record, or copied, are objects of the record's class, so that typed
// views never downcast a base object.
TEST(Records, CreateAndCloneKeepTheClass) {
  // typeid of a plain reference: clang warns when the operand is an expression with effects.
  auto class_of = [](AbstractData const& value) -> std::type_info const& { return typeid(value); };
  std::unique_ptr<AbstractData> ranged(AbstractData::create(&Int0_1023::theInfo));
  EXPECT_EQ(class_of(*ranged), typeid(Int0_1023));
  std::unique_ptr<AbstractData> copy(ranged->clone());
  EXPECT_EQ(class_of(*copy), typeid(Int0_1023));
  std::unique_ptr<AbstractData> list(AbstractData::create(&Integers::theInfo));
  EXPECT_EQ(class_of(*list), typeid(Integers));
  std::unique_ptr<AbstractData> host(AbstractData::create(&kHostName));
  EXPECT_EQ(class_of(*host), typeid(IA5String));
  std::unique_ptr<AbstractData> numeric(AbstractData::create(&NumericString::theInfo));
  EXPECT_EQ(class_of(*numeric), typeid(AbstractString));
  EXPECT_EQ(AbstractData::create(nullptr), nullptr);
}

// The value pool keeps deleted blocks for reuse, except under the address sanitizer: there
// a stale pointer to a deleted value must still be caught.
#ifdef GW_TEST_ASAN
TEST(ValuePool, DeletedValuesStayPoisonedUnderTheAddressSanitizer) {
  for (AbstractData* value : {AbstractData::create(&INTEGER::theInfo), AbstractData::create(&kMessage)}) {
    void const* const block = value;
    delete value;
    EXPECT_TRUE(__asan_address_is_poisoned(block));
  }
}
#endif

}  // namespace
