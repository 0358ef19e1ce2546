// Value notation read back: what the printer writes reads to an equal value, and the
// reader's own rules on text written by hand.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;

// INTEGER { minusOne(-1), zero(0), ten(10) }
inline NameEntry const kNamedEntries[] = {{-1, "minusOne"}, {0, "zero"}, {10, "ten"}};
inline constexpr IntegerWithNamedNumberInfo kNamed{
    {{&IntegerWithNamedNumber::create, universal(2)}, Unconstrained, 0, 4294967295u}, kNamedEntries, 3};

// SEQUENCE { first INTEGER OPTIONAL, cause Cause, second INTEGER }
inline void const* const kOrderFields[] = {&INTEGER::theInfo, &kCause, &INTEGER::theInfo};
inline int const kOrderIds[] = {0, -1, -1};
inline char const* const kOrderNames[] = {"first", "cause", "second"};
inline constexpr SequenceInfo kOrder{{&SEQUENCE::create, universal(16)}, false, kOrderFields, kOrderIds, 3, 0, 1,
                                     nullptr, nullptr, kOrderNames};

// TYPE-IDENTIFIER-like open type constrained to INTEGER.
inline constexpr TypeConstrainedOpenInfo kIntegerOpen{{&TypeConstrainedOpenData::create, 0}, &INTEGER::theInfo};

// Prints `value`, reads the text into a fresh value of its record and compares.
void round_trip(AbstractData const& value) {
  std::string const text = value.asValueNotation();
  std::unique_ptr<AbstractData> back(AbstractData::create(value.info()));
  ASSERT_TRUE(back->setFromValueNotation(text)) << text;
  EXPECT_EQ(*back, value) << text << "\nread back as\n" << back->asValueNotation();
}

template <class Value>
bool reads(std::string const& text, Value& value) {
  return value.setFromValueNotation(text);
}

TEST(ValueNotationReading, WhatThePrinterWritesReadsBack) {
  SEQUENCE message(&kMessage);
  message.includeOptionalField(0, 0);
  static_cast<INTEGER&>(*message.getField(0)) = -5;
  static_cast<CHOICE&>(*message.getField(2)).select(1);
  static_cast<IA5String&>(*static_cast<CHOICE&>(*message.getField(2)).getSelection()) = std::string("a, b} \"c\"");
  round_trip(message);

  SEQUENCE outer(&kOuter);
  auto& e = static_cast<SEQUENCE&>(*outer.getField(0));
  e.includeOptionalField(0, 1);
  e.includeOptionalField(1, 2);
  static_cast<INTEGER&>(*e.getField(2)) = 65535;
  e.includeOptionalField(3, 4);
  static_cast<CHOICE&>(*e.getField(4)).select(0);
  round_trip(outer);

  Integers list;
  round_trip(list);
  list.push_back(INTEGER(1, &INTEGER::theInfo));
  list.push_back(INTEGER(-2, &INTEGER::theInfo));
  round_trip(list);

  SEQUENCE order(&kOrder);
  for (int cause : {0, 12, 13, 255, -1}) {  // names, then numbers without one
    static_cast<ENUMERATED&>(*order.getField(1)).setFromInt(cause);
    round_trip(order);
  }
}

TEST(ValueNotationReading, EveryKind) {
  round_trip(Null());
  round_trip(BOOLEAN(true));
  round_trip(BOOLEAN(false));
  round_trip(IntAll(4294967295u));
  round_trip(IntSigned(static_cast<unsigned>(-128)));
  round_trip(INTEGER(-2147483647 - 1, &INTEGER::theInfo));
  for (int value : {-1, 0, 10, 11, -7}) round_trip(IntegerWithNamedNumber(value, &kNamed));
  ENUMERATED jump(&kJump);
  for (int value : {0, 5, 6, 123, 1, 124}) {
    jump.setFromInt(value);
    round_trip(jump);
  }
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u, 4294967295u}) oid.append(arc);
  round_trip(oid);
  round_trip(OCTET_STRING());
  round_trip(OCTET_STRING(std::vector<char>{0x0a, char(0xff), 0}));
  BIT_STRING bits;
  round_trip(bits);
  bits.resize(11);
  bits.set(0, true);
  bits.set(10, true);
  round_trip(bits);
  round_trip(IA5String(std::string("tab\there, \\ \"quoted\" \x01\x7f end")));
  AbstractString printable(&PrintableString::theInfo, "Hello, World");
  round_trip(printable);
  round_trip(BMPString(std::wstring(L"plain")));
  round_trip(GeneralizedTime("20240102030405.25+0130"));
  round_trip(GeneralizedTime("20240102030405Z"));
  CHOICE single(&kSingle);
  single.select(0);
  round_trip(single);
  TypeConstrainedOpenData open(new INTEGER(42, &INTEGER::theInfo), &kIntegerOpen);
  EXPECT_EQ(open.asValueNotation(), "42");
  TypeConstrainedOpenData open_back(new INTEGER(&INTEGER::theInfo), &kIntegerOpen);
  ASSERT_TRUE(reads("42", open_back));
  EXPECT_EQ(open_back, open);
  OpenData plain;
  EXPECT_FALSE(reads("'01'H", plain)) << "an open type without a type is not read";
}

TEST(ValueNotationReading, NamesEndAtSeparators) {
  SEQUENCE order(&kOrder);
  ASSERT_TRUE(reads("{ cause slotIdBusy, second 4 }", order));
  EXPECT_EQ(static_cast<ENUMERATED&>(*order.getField(1)).asInt(), 11);
  ASSERT_TRUE(reads("{cause internal}", order));
  EXPECT_EQ(static_cast<ENUMERATED&>(*order.getField(1)).asInt(), 5);
  ASSERT_TRUE(reads("{ first -3,cause 7,second 9 }", order));
  EXPECT_TRUE(order.hasOptionalField(0));
  EXPECT_EQ(static_cast<ENUMERATED&>(*order.getField(1)).asInt(), 7);
  EXPECT_EQ(static_cast<INTEGER&>(*order.getField(2)).getValue(), 9);
  ASSERT_TRUE(reads("{ cause 1, second 2, }", order)) << "a comma before the closing brace";
  EXPECT_FALSE(order.hasOptionalField(0)) << "a field the text does not name is absent";
  EXPECT_FALSE(reads("{ cause noSuchCause }", order));
  EXPECT_EQ(static_cast<ENUMERATED&>(*order.getField(1)).asInt(), 13) << "an unknown name leaves maximum + 1";
}

TEST(ValueNotationReading, EnumerationNamesWithoutTheirNumbers) {
  ENUMERATED jump(&kJump);
  for (auto [name, value] : std::vector<std::pair<std::string, int>>{{"a", 0}, {"b", 5}, {"c", 6}, {"d", 123}}) {
    ASSERT_TRUE(reads(name, jump)) << name;
    EXPECT_EQ(jump.asInt(), value) << name;
  }
  EXPECT_FALSE(reads("b=5", jump));
  ASSERT_TRUE(reads("-3", jump));
  EXPECT_EQ(jump.asInt(), -3);
}

TEST(ValueNotationReading, SequencesEndEarlyOrSkipOptionalFields) {
  SEQUENCE message(&kMessage);
  ASSERT_TRUE(reads("{ \n }", message)) << "braces alone, even with a mandatory field";
  ASSERT_TRUE(reads("{ seq 5 }", message)) << "the text ends before the mandatory pdu";
  EXPECT_TRUE(message.hasOptionalField(0));
  ASSERT_TRUE(reads("{ slot 7, pdu ping : NULL }", message));
  EXPECT_FALSE(message.hasOptionalField(0));
  EXPECT_TRUE(message.hasOptionalField(1));
  SEQUENCE order(&kOrder);
  EXPECT_FALSE(reads("{ second 2 }", order)) << "cause is mandatory and comes first";
  EXPECT_FALSE(reads("{ cause 1 second 2 }", order));
  EXPECT_FALSE(reads("{ cause 1, second 2, third 3 }", order));
  EXPECT_FALSE(reads("{ cause 1, second 2", order));
}

TEST(ValueNotationReading, Literals) {
  OCTET_STRING octets;
  ASSERT_TRUE(reads("'1'H", octets));
  EXPECT_EQ(octets, OCTET_STRING(std::vector<char>{0x10}));
  ASSERT_TRUE(reads("'0A ff\n01'H", octets));
  EXPECT_EQ(octets, OCTET_STRING(std::vector<char>{0x0a, char(0xff), 0x01}));
  ASSERT_TRUE(reads("'00001'B", octets));
  EXPECT_EQ(octets, OCTET_STRING(std::vector<char>{0x08}));
  EXPECT_FALSE(reads("'0g'H", octets));
  EXPECT_FALSE(reads("'-1'H", octets));
  EXPECT_FALSE(reads("'01'X", octets));
  EXPECT_FALSE(reads("'01", octets));

  BIT_STRING bits;
  ASSERT_TRUE(reads("'1010'B", bits));
  EXPECT_EQ(bits.size(), 4u);
  EXPECT_EQ(static_cast<unsigned char>(bits.getData()[0]), 0xA0);
  ASSERT_TRUE(reads("'F1'H", bits));
  EXPECT_EQ(bits.size(), 8u) << "a hexadecimal digit is four bits";
  EXPECT_EQ(static_cast<unsigned char>(bits.getData()[0]), 0xF1);
}

TEST(ValueNotationReading, SimpleWords) {
  BOOLEAN b;
  ASSERT_TRUE(reads("TRUE", b));
  EXPECT_TRUE(b);
  ASSERT_TRUE(reads(" FALSE ", b));
  EXPECT_FALSE(b);
  EXPECT_FALSE(reads("true", b));
  EXPECT_FALSE(reads("YES", b));
  Null n;
  EXPECT_TRUE(reads("NULL", n));
  EXPECT_TRUE(reads("N U L L", n)) << "letters are read one at a time";
  EXPECT_FALSE(reads("NUL", n));

  INTEGER plain(&INTEGER::theInfo);
  ASSERT_TRUE(reads("-2147483648", plain));
  EXPECT_EQ(plain.getValue(), -2147483647 - 1);
  EXPECT_FALSE(reads("2147483648", plain));
  EXPECT_FALSE(reads("x", plain));
  IntAll all;
  ASSERT_TRUE(reads("4294967295", all));
  EXPECT_EQ(all.getValue(), 4294967295u);
  EXPECT_FALSE(reads("4294967296", all));

  IntegerWithNamedNumber named(&kNamed);
  ASSERT_TRUE(reads("ten", named));
  EXPECT_EQ(named.getValue(), 10);
  ASSERT_TRUE(reads("-1", named));
  EXPECT_EQ(named.getValue(), -1);
  EXPECT_FALSE(reads("eleven", named));
  EXPECT_EQ(named.getValue(), -1) << "an unknown name changes nothing";
}

TEST(ValueNotationReading, ObjectIdentifiersWithNames) {
  OBJECT_IDENTIFIER oid;
  ASSERT_TRUE(reads("{ iso(1) member-body (2) 840 }", oid));
  ASSERT_EQ(oid.levels(), 3u);
  EXPECT_EQ(oid[0], 1u);
  EXPECT_EQ(oid[1], 2u);
  EXPECT_EQ(oid[2], 840u);
  OBJECT_IDENTIFIER bare;
  ASSERT_TRUE(reads("{ iso 7 8 }", bare));
  ASSERT_EQ(bare.levels(), 1u) << "after a bare name the next character is dropped";
  EXPECT_EQ(bare[0], 8u);
  OBJECT_IDENTIFIER bad;
  EXPECT_FALSE(reads("{ 1 2x }", bad));
  EXPECT_FALSE(reads("{ a (2 }", bad));
  EXPECT_FALSE(reads("{ 1 2", bad));
}

TEST(ValueNotationReading, StringEscapes) {
  IA5String s;
  ASSERT_TRUE(reads("\"a\\x0ab\\\"c\\\\d\\x7F\"", s));
  EXPECT_EQ(std::string(s), "a\nb\"c\\d\x7f");
  EXPECT_FALSE(reads("\"a\\qb\"", s)) << "the printer writes no other escape";
  EXPECT_FALSE(reads("\"a\\x4\"", s));
  EXPECT_FALSE(reads("\"open", s));
  EXPECT_FALSE(reads("open\"", s));
  GeneralizedTime time;
  ASSERT_TRUE(reads("\"19991231235959Z\"", time));
  EXPECT_EQ(time.get(), "19991231235959Z");
}

TEST(ValueNotationReading, ChoicesAndLists) {
  CHOICE body(&kBody);
  ASSERT_TRUE(reads("number : 12", body));
  EXPECT_EQ(body.currentSelection(), 2);
  EXPECT_FALSE(reads("number 12", body));
  EXPECT_FALSE(reads("nothing : NULL", body));
  Integers list;
  ASSERT_TRUE(reads("{ 1, 2,3 }", list));
  EXPECT_EQ(list.size(), 3u);
  ASSERT_TRUE(reads("{}", list));
  EXPECT_TRUE(list.empty());
  EXPECT_FALSE(reads("{ 1; 2 }", list));
  EXPECT_FALSE(reads("{ 1, x }", list));
  EXPECT_FALSE(reads("{ 1, 2", list));
}

TEST(ValueNotationReading, StreamOperatorAndCoderEnv) {
  std::istringstream in("  { seq 5,\n  pdu number : -1\n } rest");
  SEQUENCE message(&kMessage);
  in >> message;
  ASSERT_TRUE(in.good());
  EXPECT_EQ(static_cast<INTEGER&>(*message.getField(0)).getValue(), 5);
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "rest");

  std::istringstream bad("{ seq x }");
  bad >> message;
  EXPECT_TRUE(bad.fail());
  std::istringstream already_failed("5");
  already_failed.setstate(std::ios::failbit);
  INTEGER untouched(3, &INTEGER::theInfo);
  already_failed >> untouched;
  EXPECT_EQ(untouched.getValue(), 3);

  CoderEnv env;
  env.set_encodingRule(CoderEnv::avn);
  std::string const text = "{ slot 1023, pdu ping : NULL }";
  SEQUENCE decoded(&kMessage);
  ASSERT_TRUE(decode(text.data(), text.data() + text.size(), &env, decoded, false));
  EXPECT_EQ(static_cast<INTEGER&>(*decoded.getField(1)).getValue(), 1023);
  std::vector<char> out;
  ASSERT_TRUE(encode(decoded, &env, std::back_inserter(out)));
  SEQUENCE again(&kMessage);
  ASSERT_TRUE(decode(out.data(), out.data() + out.size(), &env, again, true));
  EXPECT_EQ(again, decoded);
}

}  // namespace
