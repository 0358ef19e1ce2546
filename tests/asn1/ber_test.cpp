// The BER coder: the octets of each rule, the length counter agreeing with what is
// written, and the decoder on octets a peer or an attacker may send.

#include <gtest/gtest.h>

#include "tests/asn1/coding.h"
#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;
using test_coding::ber;
using test_coding::from_ber;
using test_coding::octets;

// The whole encoding's size as the counter gives it, against the octets written.
void expect_counted(AbstractData const& value) {
  std::vector<char> out;
  BEREncoder encoder(out);
  ASSERT_TRUE(value.accept(encoder));
  EXPECT_EQ(getObjectLength(value, BEREncoder::ownTag), out.size()) << value.asValueNotation();
}

// SEQUENCE { data OCTET STRING }
inline void const* const kWrapFields[] = {&OCTET_STRING::theInfo};
inline int const kWrapIds[] = {-1};
inline char const* const kWrapNames[] = {"data"};
inline constexpr SequenceInfo kWrap{{&SEQUENCE::create, universal(16)}, false, kWrapFields, kWrapIds, 1, 0, 0,
                                    nullptr, nullptr, kWrapNames};

// INTEGER types with context tags 31 and 128 of their own.
inline constexpr ConstrainedInfo kTagged31{{&INTEGER::create, context(31)}, Unconstrained, 0, 4294967295u};
inline constexpr ConstrainedInfo kTagged128{{&INTEGER::create, context(128)}, Unconstrained, 0, 4294967295u};

// SEQUENCE (SIZE (0..8)) OF INTEGER and SEQUENCE OF OpenData
inline constexpr SequenceOfInfo kOpenList{{{&SEQUENCE_OF_Base::create, universal(16)}, Unconstrained, 0, 4294967295u},
                                          &OpenData::theInfo};

// SEQUENCE { any OpenData, after INTEGER OPTIONAL }
inline void const* const kHolderFields[] = {&OpenData::theInfo, &INTEGER::theInfo};
inline int const kHolderIds[] = {-1, 0};
inline char const* const kHolderNames[] = {"any", "after"};
inline constexpr SequenceInfo kHolder{{&SEQUENCE::create, universal(16)}, false, kHolderFields, kHolderIds, 2, 0, 1,
                                      nullptr, nullptr, kHolderNames};

// CHOICE { a [0] INTEGER, b [1] BOOLEAN, ..., c [5] NULL } with a tag table.
inline void const* const kTableAlternatives[] = {&INTEGER::theInfo, &BOOLEAN::theInfo, &Null::theInfo};
inline unsigned const kTableTags[] = {context(0), context(1), context(5)};
inline char const* const kTableNames[] = {"a", "b", "c"};
inline constexpr ChoiceInfo kTable{{&CHOICE::create, 0}, true, kTableAlternatives, 2, 3, kTableTags, kTableNames};

// CHOICE { inner Body (untagged), z [3] NULL }: a tag not its own is looked for in Body.
inline void const* const kNestedAlternatives[] = {&kBody, &Null::theInfo};
inline unsigned const kNestedTags[] = {0, context(3)};
inline char const* const kNestedNames[] = {"inner", "z"};
inline constexpr ChoiceInfo kNested{{&CHOICE::create, 0}, false, kNestedAlternatives, 2, 2, kNestedTags, kNestedNames};

TEST(BerEncoder, IntegersInTheFewestOctets) {
  for (auto [value, text] : std::vector<std::pair<int, std::string>>{{0, "02 01 00"},
                                                                     {127, "02 01 7F"},
                                                                     {128, "02 02 00 80"},
                                                                     {-1, "02 01 FF"},
                                                                     {-128, "02 01 80"},
                                                                     {-129, "02 02 FF 7F"},
                                                                     {2147483647, "02 04 7F FF FF FF"},
                                                                     {-2147483647 - 1, "02 04 80 00 00 00"}}) {
    INTEGER v(value, &INTEGER::theInfo);
    EXPECT_EQ(ber(v), text) << value;
    expect_counted(v);
    INTEGER back(&INTEGER::theInfo);
    ASSERT_TRUE(from_ber(text, back));
    EXPECT_EQ(back.getValue(), value);
  }
  EXPECT_EQ(getIntegerDataLength(0), 1u);
  EXPECT_EQ(getIntegerDataLength(32767), 2u);
  EXPECT_EQ(getIntegerDataLength(32768), 3u);
  EXPECT_EQ(getIntegerDataLength(-8388608), 3u);
  EXPECT_EQ(getIntegerDataLength(-8388609), 4u);
}

TEST(BerEncoder, ARangeFromZeroUpIsWrittenUnsigned) {
  // As the value prints: 4294967295 of INTEGER (0..4294967295) is not -1 on the wire.
  EXPECT_EQ(ber(IntAll(4294967295u)), "02 05 00 FF FF FF FF");
  EXPECT_EQ(ber(IntAll(2147483648u)), "02 05 00 80 00 00 00");
  EXPECT_EQ(ber(IntAll(2147483647u)), "02 04 7F FF FF FF");
  EXPECT_EQ(ber(IntAll(128u)), "02 02 00 80");
  EXPECT_EQ(ber(Int0_65535(40000u)), "02 03 00 9C 40");
  EXPECT_EQ(ber(IntSigned(static_cast<unsigned>(-5))), "02 01 FB") << "a negative lower bound stays signed";
  INTEGER extendable(-3, &kExtUnsigned);
  EXPECT_EQ(ber(extendable), "02 05 00 FF FF FF FD") << "a range from 0 up, extensible or not";
  for (unsigned value : {0u, 127u, 128u, 32768u, 8388608u, 2147483648u, 4294967295u}) {
    IntAll v(value);
    expect_counted(v);
    IntAll back;
    ASSERT_TRUE(from_ber(ber(v), back));
    EXPECT_EQ(back.getValue(), value);
  }
  // Inside a SEQUENCE the enclosing length counts the fifth octet.
  SEQUENCE message(&kMessage);
  message.includeOptionalField(1, 1);
  static_cast<INTEGER&>(*message.getField(1)) = 1023;
  static_cast<CHOICE&>(*message.getField(2)).select(0);
  EXPECT_EQ(ber(message), "30 08 81 02 03 FF A2 02 80 00");
}

TEST(BerEncoder, SimpleKinds) {
  EXPECT_EQ(ber(Null()), "05 00");
  EXPECT_EQ(ber(BOOLEAN(true)), "01 01 FF");
  EXPECT_EQ(ber(BOOLEAN(false)), "01 01 00");
  ENUMERATED cause(&kCause);
  cause.setFromInt(12);
  EXPECT_EQ(ber(cause), "0A 01 0C");
  cause.setFromInt(200);
  EXPECT_EQ(ber(cause), "0A 02 00 C8");
  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u}) oid.append(arc);
  EXPECT_EQ(ber(oid), "06 03 2A 86 48");
  EXPECT_EQ(ber(GeneralizedTime("20240102030405Z")), "18 0F 32 30 32 34 30 31 30 32 30 33 30 34 30 35 5A");
  EXPECT_EQ(ber(BMPString(std::wstring(L"a\u20ac"))), "1E 04 00 61 20 AC");
  EXPECT_EQ(ber(IA5String(std::string("hi"))), "16 02 68 69");
  EXPECT_EQ(ber(OCTET_STRING()), "04 00");
}

TEST(BerEncoder, BitStringsCarryTheirUnusedBits) {
  BIT_STRING bits;
  EXPECT_EQ(ber(bits), "03 01 00");
  bits.resize(16);
  bits.set(0, true);
  bits.set(15, true);
  EXPECT_EQ(ber(bits), "03 03 00 80 01");
  bits.resize(12);
  EXPECT_EQ(ber(bits), "03 03 04 80 00");
  BIT_STRING back;
  ASSERT_TRUE(from_ber("03 03 04 80 00", back));
  EXPECT_EQ(back.size(), 12u);
  EXPECT_EQ(back, bits);
  EXPECT_FALSE(from_ber("03 02 09 FF", back)) << "more unused bits than the octets carry";
}

TEST(BerEncoder, LengthFormsCountedAtEveryLevel) {
  for (auto [size, head] : std::vector<std::pair<unsigned, std::string>>{
           {127, "04 7F"}, {128, "04 81 80"}, {256, "04 82 01 00"}, {65536, "04 83 01 00 00"}}) {
    OCTET_STRING data(size, 'x');
    EXPECT_EQ(ber(data).substr(0, head.size()), head) << size;
    SEQUENCE wrap(&kWrap);
    static_cast<OCTET_STRING&>(*wrap.getField(0)) = data;
    expect_counted(wrap);
    SEQUENCE back(&kWrap);
    ASSERT_TRUE(from_ber(ber(wrap), back));
    EXPECT_EQ(back, wrap);
  }
  SEQUENCE wrap(&kWrap);
  static_cast<OCTET_STRING&>(*wrap.getField(0)) = std::vector<char>(128, 'x');
  EXPECT_EQ(ber(wrap).substr(0, 17), "30 81 83 80 81 80") << "131 octets of contents: tag, 81 80, then 128";
}

TEST(BerEncoder, HighTagNumbers) {
  INTEGER v31(5, &kTagged31), v128(5, &kTagged128);
  EXPECT_EQ(ber(v31), "9F 1F 01 05");
  EXPECT_EQ(ber(v128), "9F 81 00 01 05");
  expect_counted(v31);
  expect_counted(v128);
  INTEGER back(&kTagged128);
  ASSERT_TRUE(from_ber("9F 81 00 01 05", back));
  EXPECT_EQ(back.getValue(), 5);
  EXPECT_FALSE(from_ber("9F 1F 01 05", back)) << "tag 31 is not tag 128";
}

TEST(BerEncoder, ConstructedTypesUnderAutomaticTags) {
  // pdu is [2], and as a CHOICE it is tagged explicitly: the tag is constructed, since
  // it wraps the alternative's whole encoding (a peer refuses the primitive form).
  SEQUENCE message(&kMessage);
  message.includeOptionalField(0, 0);
  static_cast<INTEGER&>(*message.getField(0)) = 5;
  static_cast<CHOICE&>(*message.getField(2)).select(2);
  EXPECT_EQ(ber(message), "30 08 80 01 05 A2 03 82 01 00");
  expect_counted(message);

  // Extensions go inline after the root with the following tag numbers.
  SEQUENCE ext(&kExtensible);
  static_cast<BOOLEAN&>(*ext.getField(0)) = true;
  ext.includeOptionalField(2, 3);
  static_cast<IA5String&>(*ext.getField(3)) = std::string("hi");
  EXPECT_EQ(ber(ext), "30 07 80 01 FF 83 02 68 69");
  expect_counted(ext);

  Integers list;
  list.push_back(INTEGER(1, &INTEGER::theInfo));
  list.push_back(INTEGER(300, &INTEGER::theInfo));
  EXPECT_EQ(ber(list), "30 07 02 01 01 02 02 01 2C");
  EXPECT_EQ(ber(Integers()), "30 00");

  CHOICE body(&kBody);
  EXPECT_EQ(ber(body), "fail") << "no selection";
  body.select(1);
  EXPECT_EQ(ber(body), "81 00") << "an untagged CHOICE has no header of its own";
}

TEST(BerEncoder, TagTablesAndUntaggedInnerChoices) {
  CHOICE table(&kTable);
  table.select(2);
  EXPECT_EQ(ber(table), "85 00");
  CHOICE back(&kTable);
  EXPECT_FALSE(from_ber("85 00", back)) << "only the root's tags are searched";
  ASSERT_TRUE(from_ber("81 01 FF", back));
  EXPECT_EQ(back.currentSelection(), 1);

  CHOICE nested(&kNested);
  nested.select(0);
  static_cast<CHOICE*>(nested.getSelection())->select(2);
  static_cast<INTEGER&>(*static_cast<CHOICE*>(nested.getSelection())->getSelection()) = 7;
  EXPECT_EQ(ber(nested), "82 01 07");
  expect_counted(nested);
  CHOICE nested_back(&kNested);
  ASSERT_TRUE(from_ber("82 01 07", nested_back));
  EXPECT_EQ(nested_back, nested);
  ASSERT_TRUE(from_ber("83 00", nested_back));
  EXPECT_EQ(nested_back.currentSelection(), 1);
  EXPECT_FALSE(from_ber("87 00", nested_back));
  EXPECT_TRUE(nested_back.isUnknownSelection());
}

TEST(BerEncoder, OpenTypesCountWhatIsWritten) {
  SEQUENCE holder(&kHolder);
  OpenData five(new INTEGER(5, &INTEGER::theInfo), &OpenData::theInfo);
  static_cast<OpenData&>(*holder.getField(0)).swap(five);
  EXPECT_EQ(ber(holder), "30 05 A0 03 02 01 05");
  expect_counted(holder);

  SEQUENCE back(&kHolder);
  ASSERT_TRUE(from_ber("30 05 A0 03 02 01 05", back));
  auto const& any = static_cast<OpenData const&>(*back.getField(0));
  ASSERT_TRUE(any.has_buf());
  EXPECT_EQ(any.get_buf(), octets("02 01 05")) << "the contained encoding, without the field's tag";
  EXPECT_EQ(ber(back), "30 05 A0 03 02 01 05") << "octets kept are written as they are";

  OpenData top;
  ASSERT_TRUE(from_ber("02 01 05 FF", top));
  EXPECT_EQ(top.get_buf(), octets("02 01 05")) << "an untagged open type keeps the whole encoding";
  EXPECT_EQ(ber(top), "02 01 05");
  OpenData empty;
  EXPECT_EQ(ber(empty), "fail");
}

TEST(BerDecoder, IndefiniteLengthsReadAsZero) {
  Integers list;
  ASSERT_TRUE(from_ber("30 80 02 01 05 00 00", list));
  EXPECT_TRUE(list.empty());
  SEQUENCE message(&kMessage);
  EXPECT_FALSE(from_ber("30 80 A2 02 80 00 00 00", message)) << "pdu is mandatory";
  SEQUENCE ext(&kExtensibleOld);
  EXPECT_FALSE(from_ber("30 80 80 01 FF", ext));
}

TEST(BerDecoder, LengthsOfMoreThanFourOctetsKeepTheLastFour) {
  OCTET_STRING v;
  ASSERT_TRUE(from_ber("04 85 FF 00 00 00 02 41 42", v));
  EXPECT_EQ(std::string(v), "AB");
}

TEST(BerDecoder, IntegersAndEnumerationsSignExtend) {
  INTEGER i(&INTEGER::theInfo);
  ASSERT_TRUE(from_ber("02 02 FF 7F", i));
  EXPECT_EQ(i.getValue(), -129);
  // -1 is written FF, as a peer writes it, and must read back as -1, not 255.
  ENUMERATED e(&kCause);
  e.setFromInt(-1);
  EXPECT_EQ(ber(e), "0A 01 FF");
  ASSERT_TRUE(from_ber("0A 01 FF", e));
  EXPECT_EQ(e.asInt(), -1);
  ASSERT_TRUE(from_ber("0A 02 00 FF", e));
  EXPECT_EQ(e.asInt(), 255);
  EXPECT_FALSE(from_ber("02 00", i));
  EXPECT_FALSE(from_ber("0A 00", e));
  EXPECT_FALSE(from_ber("02 02 01", i)) << "cut short";
  BOOLEAN b;
  ASSERT_TRUE(from_ber("01 02 FF 00", b));
  EXPECT_FALSE(b) << "the last octet counts";
}

TEST(BerDecoder, FieldsAbsentByTagAndWhatFollows) {
  SEQUENCE message(&kMessage);
  ASSERT_TRUE(from_ber("30 04 A2 02 80 00 FF FF", message)) << "more input after the SEQUENCE";
  EXPECT_FALSE(message.hasOptionalField(0));
  EXPECT_FALSE(message.hasOptionalField(1));
  EXPECT_EQ(static_cast<CHOICE&>(*message.getField(2)).currentSelection(), 0);

  SEQUENCE empty(&kExtensibleOld);
  EXPECT_FALSE(from_ber("30 00", empty)) << "the mandatory field a";
  SEQUENCE all_optional(&kMessage);
  ASSERT_TRUE(from_ber("30 03 85 01 05", all_optional)) << "[5] is no field's tag: every field taken as absent";
  EXPECT_EQ(static_cast<CHOICE&>(*all_optional.getField(2)).currentSelection(), -1);

  // What a newer peer adds after the known fields is skipped.
  SEQUENCE outer(&kOuter);
  ASSERT_TRUE(from_ber("30 0D A0 08 80 01 FF 83 03 61 62 63 81 01 07", outer));
  EXPECT_EQ(static_cast<INTEGER&>(*outer.getField(1)).getValue(), 7);
  auto const& old = static_cast<SEQUENCE const&>(*outer.getField(0));
  EXPECT_EQ(old.fieldCount(), 5u);
  SEQUENCE older(&kExtensibleOld);
  ASSERT_TRUE(from_ber("30 08 80 01 FF 83 03 61 62 63", older));
  EXPECT_TRUE(static_cast<BOOLEAN&>(*older.getField(0)));

  // The constructed bit is not looked at.
  OCTET_STRING v;
  ASSERT_TRUE(from_ber("24 02 41 42", v));
  EXPECT_EQ(std::string(v), "AB");
}

TEST(BerDecoder, AReusedValueKeepsNothingOfItsLastMessage) {
  SEQUENCE message(&kMessage);
  ASSERT_TRUE(from_ber("30 08 80 01 05 A2 03 82 01 00", message));
  EXPECT_TRUE(message.hasOptionalField(0));
  ASSERT_TRUE(from_ber("30 04 A2 02 80 00", message));
  EXPECT_FALSE(message.hasOptionalField(0));
  Integers list;
  ASSERT_TRUE(from_ber("30 03 02 01 01", list));
  ASSERT_TRUE(from_ber("30 03 02 01 02", list));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].getValue(), 2);
}

// A length that runs past the input fails before anything is stored, so a few octets
// cannot make the decoder reserve gigabytes.
TEST(BerDecoder, LengthsBeyondTheInputAllocateNothing) {
  OCTET_STRING octet_string;
  EXPECT_FALSE(from_ber("04 84 7F FF FF FF 41", octet_string));
  EXPECT_EQ(octet_string.capacity(), 0u);
  IA5String text;
  EXPECT_FALSE(from_ber("16 84 7F FF FF FF 41", text));
  EXPECT_LT(text.capacity(), 100u);
  BMPString bmp;
  EXPECT_FALSE(from_ber("1E 84 7F FF FF FF 00 41", bmp));
  EXPECT_LT(bmp.capacity(), 100u);
  BIT_STRING bits;
  EXPECT_FALSE(from_ber("03 84 7F FF FF FF 00 FF", bits));
  EXPECT_EQ(bits.getData().capacity(), 0u);
  GeneralizedTime time;
  EXPECT_FALSE(from_ber("18 84 7F FF FF FF 32", time));
  OBJECT_IDENTIFIER oid;
  EXPECT_FALSE(from_ber("06 03 2A 86", oid));
  Integers list;
  EXPECT_FALSE(from_ber("30 84 7F FF FF FF 02 01 01", list));

  // An open type takes what remains.
  SEQUENCE holder(&kHolder);
  ASSERT_TRUE(from_ber("30 84 7F FF FF FF A0 84 7F FF FF FF 02 01 05", holder));
  EXPECT_EQ(static_cast<OpenData&>(*holder.getField(0)).get_buf(), octets("02 01 05"));
}

TEST(BerDecoder, PositionsFromLengthsStayInsideTheInput) {
  Null n;
  ASSERT_TRUE(from_ber("05 84 7F FF FF FF", n)) << "a NULL steps over its length, up to the end";
  SEQUENCE message(&kMessage);
  EXPECT_FALSE(from_ber("30 84 7F FF FF FF 80 01 05", message)) << "pdu is missing";
  CHOICE body(&kBody);
  ASSERT_TRUE(from_ber("80 84 7F FF FF FF", body));
  EXPECT_EQ(body.currentSelection(), 0);
  Integers list;
  EXPECT_FALSE(from_ber("30 03 02 05 01", list)) << "an element longer than its list";
}

TEST(BerDecoder, OpenTypesOfNoOctetsEndTheirList) {
  SEQUENCE_OF_Base list(&kOpenList);
  ASSERT_TRUE(from_ber("30 04 00 00 00 00", list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(static_cast<OpenData&>(**list.begin()).get_buf(), octets("00 00"));
  EXPECT_EQ(ber(list), "30 04 00 00 00 00");
  EXPECT_FALSE(from_ber("30 01 00", list)) << "a header cut short";
}

TEST(BerDecoder, UnknownAlternativesAndTruncatedHeaders) {
  CHOICE body(&kBody);
  EXPECT_FALSE(from_ber("87 00", body));
  EXPECT_TRUE(body.isUnknownSelection());
  EXPECT_FALSE(from_ber("", body));
  EXPECT_FALSE(from_ber("9F", body));
  EXPECT_FALSE(from_ber("9F 81", body));
  EXPECT_FALSE(from_ber("82", body));
  EXPECT_FALSE(from_ber("82 82 01", body));
  INTEGER i(&INTEGER::theInfo);
  EXPECT_FALSE(from_ber("04 01 05", i)) << "another tag";
  BERDecoder decoder(nullptr, nullptr);
  EXPECT_TRUE(decoder.atEnd());
}

}  // namespace
