// The aligned PER wire format, pinned bit for bit, including where it departs from X.691.

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>

#include "tests/asn1/coding.h"
#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;
using test_coding::from_per;
using test_coding::octets;
using test_coding::per;

template <class T>
std::string per_of(T const& value) {
  return per(value);
}


TEST(PerWholeNumbers, ConstrainedRanges) {
  EXPECT_EQ(per_of(IntWide(112256u)), "40 01 00");
  EXPECT_EQ(per_of(IntAll(0u)), "00 00");
  EXPECT_EQ(per_of(IntAll(4294967295u)), "C0 FF FF FF FF");
  EXPECT_EQ(per_of(IntSigned(static_cast<unsigned>(-128))), "00");
  EXPECT_EQ(per_of(IntSigned(127u)), "FF");
  EXPECT_EQ(per_of(Int0_1023(5u)), "00 05");
  EXPECT_EQ(per_of(Int0_65535(300u)), "01 2C");
  EXPECT_EQ(per_of(Constrained_INTEGER<FixedConstraint, 0, 7>(5u)), "A0");
  EXPECT_EQ(per_of(Constrained_INTEGER<FixedConstraint, 5, 5>(5u)), "") << "a range of one value takes no bits";
  EXPECT_EQ(per_of(Int0_1023(1024u)), "fail");
  EXPECT_EQ(per_of(IntSigned(128u)), "fail");
}

TEST(PerWholeNumbers, UnconstrainedTwosComplement) {
  EXPECT_EQ(per_of(INTEGER(0, &INTEGER::theInfo)), "01 00");
  EXPECT_EQ(per_of(INTEGER(128, &INTEGER::theInfo)), "02 00 80");
  EXPECT_EQ(per_of(INTEGER(-1, &INTEGER::theInfo)), "01 FF");
  EXPECT_EQ(per_of(INTEGER(-128, &INTEGER::theInfo)), "01 80");
  EXPECT_EQ(per_of(INTEGER(-129, &INTEGER::theInfo)), "02 FF 7F");
  EXPECT_EQ(per_of(INTEGER(INT_MAX, &INTEGER::theInfo)), "04 7F FF FF FF");
  EXPECT_EQ(per_of(INTEGER(INT_MIN, &INTEGER::theInfo)), "04 80 00 00 00");
}

TEST(PerWholeNumbers, ExtensibleRanges) {
  EXPECT_EQ(per_of(INTEGER(-5, &kExtSigned)), "14");
  EXPECT_EQ(per_of(INTEGER(-20, &kExtSigned)), "80 01 EC");
  EXPECT_EQ(per_of(INTEGER(11, &kExtSigned)), "80 01 0B");
  EXPECT_EQ(per_of(INTEGER(-1, &kExtUnsigned)), "80 01 FF");
  // Values outside the root come back with their sign.
  for (int v : {-20, -11, 11, 1000, INT_MIN}) {
    INTEGER in(v, &kExtSigned), out(&kExtSigned);
    ASSERT_TRUE(from_per(per(in), out)) << v;
    EXPECT_EQ(out.getValue(), v);
  }
  INTEGER out(&kExtUnsigned);
  ASSERT_TRUE(from_per("80 01 FF", out));
  EXPECT_EQ(out.getValue(), -1);
}

TEST(PerLengths, OctetFormsAndTheFragmentationLimit) {
  auto length_prefix = [](std::size_t n) { return per(OCTET_STRING(n, 'x')).substr(0, 5); };
  EXPECT_EQ(length_prefix(127), "7F 78");
  EXPECT_EQ(length_prefix(128), "80 80");
  EXPECT_EQ(length_prefix(16383), "BF FF");
  EXPECT_EQ(per(OCTET_STRING(16384, 'x')), "fail");
  OCTET_STRING in;
  EXPECT_FALSE(from_per("C0 00", in)) << "a fragmented length";
  EXPECT_FALSE(from_per("80", in)) << "a two-octet length cut short";
  ASSERT_TRUE(from_per(per(OCTET_STRING(300, 'y')), in));
  EXPECT_EQ(in, OCTET_STRING(300, 'y'));
}

TEST(PerEnumerated, CodedByValueWithTheExtensionForm) {
  ENUMERATED small(&kSmall), ext(&kSmallExt);
  small.setFromInt(3);
  ext.setFromInt(3);
  EXPECT_EQ(per(small), "60");
  EXPECT_EQ(per(ext), "30");
  ext.setFromInt(6);
  EXPECT_EQ(per(ext), "87 C0");
  ext.setFromInt(100);
  EXPECT_EQ(per(ext), "C0 01 65 C8");
  ext.setFromInt(-1);
  EXPECT_EQ(per(ext), "fail");
  small.setFromInt(6);
  EXPECT_EQ(per(small), "fail");

  ENUMERATED jump(&kJump);
  jump.setFromInt(123);
  EXPECT_EQ(per(jump), "F6") << "the value, not its position among the names";

  ENUMERATED back(&kSmallExt);
  ASSERT_TRUE(from_per("87 C0", back));
  EXPECT_EQ(back.asInt(), 6);
  ASSERT_TRUE(from_per("C0 01 65 C8", back));
  EXPECT_EQ(back.asInt(), 100);

  // The extension form reaches INT_MAX; a larger number would turn negative.
  ext.setFromInt(INT_MAX);
  ASSERT_TRUE(from_per(per(ext), back));
  EXPECT_EQ(back.asInt(), INT_MAX);
  std::vector<char> beyond;
  PEREncoder encoder(beyond);
  encoder.encodeSingleBit(true);
  encoder.encodeSmallUnsigned(0x80000001u);
  ASSERT_TRUE(encoder.encodeUnsigned(0x80000000u, 0, 0x80000000u));
  PERDecoder decoder(beyond.data(), beyond.data() + beyond.size());
  EXPECT_FALSE(back.accept(decoder));
}

TEST(PerChoice, IndexAndExtensionAlternatives) {
  CHOICE single(&kSingle);
  single.setSelection(0, new INTEGER(5, &INTEGER::theInfo));
  EXPECT_EQ(per(single), "01 05") << "a single root alternative writes no index";

  CHOICE body(&kBody);
  body.select(1);
  static_cast<IA5String&>(*body.getSelection()) = std::string("ab");
  EXPECT_EQ(per(body), "40 02 61 62");

  CHOICE ext(&kExtChoice);
  ext.select(2);
  static_cast<BOOLEAN&>(*ext.getSelection()) = true;
  EXPECT_EQ(per(ext), "80 01 80");
  ext.select(1);
  static_cast<INTEGER&>(*ext.getSelection()) = -1;
  EXPECT_EQ(per(ext), "40 01 FF");

  CHOICE empty(&kNullExt);
  empty.select(1);
  EXPECT_EQ(per(empty), "80 01 00") << "an open type of no bits is one zero octet";

  EXPECT_EQ(per(CHOICE(&kBody)), "fail") << "no alternative selected";
}

TEST(PerChoice, DecoderRefusesWhatTheRecordDoesNotDescribe) {
  CHOICE body(&kBody);
  EXPECT_FALSE(from_per("C0", body)) << "index 3 of three root alternatives";
  CHOICE old(&kExtChoiceOld);
  EXPECT_FALSE(from_per("80 01 80", old)) << "an extension alternative the record does not know";
  EXPECT_TRUE(old.isUnknownSelection());
  CHOICE overflow(&kExtChoice);
  EXPECT_FALSE(from_per("C0 04 FF FF FF FF 01 00", overflow));

  CHOICE none(&kNullOnly);
  EXPECT_TRUE(from_per("", none)) << "a CHOICE that needs no bits decodes at the end of the input";
  EXPECT_EQ(none.currentSelection(), 0);

  CHOICE ext(&kExtChoice);
  ASSERT_TRUE(from_per("80 01 80", ext));
  EXPECT_EQ(ext.currentSelection(), 2);
  EXPECT_TRUE(static_cast<BOOLEAN&>(*ext.getSelection()));
}

TEST(PerSequence, OptionalBitsAndFields) {
  SEQUENCE message(&kMessage);
  message.includeOptionalField(0, 0);
  static_cast<INTEGER&>(*message.getField(0)) = 5;
  static_cast<CHOICE&>(*message.getField(2)).select(0);
  EXPECT_EQ(per(message), "80 01 05 00");
  message.includeOptionalField(1, 1);
  static_cast<Int0_1023&>(*message.getField(1)) = 1023u;
  EXPECT_EQ(per(message), "C0 01 05 03 FF 00");
  message.removeOptionalField(0);
  EXPECT_EQ(per(message), "40 03 FF 00");

  SEQUENCE back(&kMessage);
  ASSERT_TRUE(from_per("C0 01 05 03 FF 00", back));
  EXPECT_TRUE(back.hasOptionalField(0));
  EXPECT_EQ(static_cast<INTEGER const&>(*back.getField(0)).getValue(), 5);
  EXPECT_EQ(static_cast<Int0_1023 const&>(*back.getField(1)).getValue(), 1023u);
}

TEST(PerSequence, ExtensionsTravelAsOpenTypes) {
  SEQUENCE s(&kExtensible);
  static_cast<BOOLEAN&>(*s.getField(0)) = true;
  EXPECT_EQ(per(s), "20");
  s.includeOptionalField(1, 2);  // x
  s.removeOptionalField(1);
  EXPECT_EQ(per(s), "20") << "a bit map with no bit set announces nothing";
  s.includeOptionalField(1, 2);
  static_cast<Int0_65535&>(*s.getField(2)) = 7u;
  EXPECT_EQ(per(s), "A0 20 02 00 07");

  SEQUENCE y(&kExtensible);
  static_cast<BOOLEAN&>(*y.getField(0)) = true;
  y.includeOptionalField(2, 3);
  static_cast<IA5String&>(*y.getField(3)) = std::string("hi");
  EXPECT_EQ(per(y), "A0 50 03 02 68 69") << "the bit map is as long as the value's";

  SEQUENCE back(&kExtensible);
  ASSERT_TRUE(from_per("A0 50 03 02 68 69", back));
  EXPECT_FALSE(back.hasOptionalField(1));
  EXPECT_TRUE(back.hasOptionalField(2));
  EXPECT_EQ(static_cast<IA5String const&>(*back.getField(3)), "hi");
}

TEST(PerSequence, UnknownExtensionsAreSkippedAndNeverReannounced) {
  SEQUENCE y(&kExtensible);
  static_cast<BOOLEAN&>(*y.getField(0)) = true;
  y.includeOptionalField(2, 3);
  static_cast<IA5String&>(*y.getField(3)) = std::string("hi");

  SEQUENCE old(&kExtensibleOld);
  ASSERT_TRUE(from_per(per(y), old)) << "skipped by its length, ending at the end of the input";
  EXPECT_TRUE(static_cast<BOOLEAN const&>(*old.getField(0)));
  EXPECT_EQ(old.extensionMap().size(), 2u);
  EXPECT_EQ(per(old), "20") << "extensions it cannot write are dropped";

  // Decoding into a reused value clears extensions the new encoding does not carry.
  SEQUENCE reused(&kExtensible);
  ASSERT_TRUE(from_per(per(y), reused));
  ASSERT_TRUE(from_per("20", reused));
  EXPECT_EQ(reused.extensionMap().size(), 0u);
  EXPECT_EQ(per(reused), "20");
}

TEST(PerSequence, KnownExtensionEndsWhereItsOpenTypeEnds) {
  // x's open type claims three octets; x uses two.
  SEQUENCE outer(&kOuter);
  ASSERT_TRUE(from_per("A0 20 03 00 07 99 01 05", outer));
  auto const& e = static_cast<SEQUENCE const&>(*outer.getField(0));
  EXPECT_EQ(static_cast<Int0_65535 const&>(*e.getField(2)).getValue(), 7u);
  EXPECT_EQ(static_cast<INTEGER const&>(*outer.getField(1)).getValue(), 5);
}

TEST(PerSequence, ExtensionMapLimit) {
  SEQUENCE ok(&kExtensible);
  std::string const zeros16 = " 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00";
  // Extension bit, b absent, a TRUE, then the long form of the small number (count - 1:
  // a '1' bit, the length octet 01 and the octet 7F) and 128 clear bits.
  EXPECT_TRUE(from_per("B0 01 7F" + zeros16, ok));
  EXPECT_EQ(ok.extensionMap().size(), 128u);
  SEQUENCE too_long(&kExtensible);
  EXPECT_FALSE(from_per("B0 01 80" + zeros16 + " 00", too_long)) << "129 bits";
}

TEST(PerSequenceOf, CountThenElementsWithinTheLimit) {
  Integers list;
  list.push_back(INTEGER(1, &INTEGER::theInfo));
  list.push_back(INTEGER(-1, &INTEGER::theInfo));
  EXPECT_EQ(per(list), "02 01 01 01 FF");

  std::string hex = "80 80";
  for (int i = 0; i < 128; ++i) hex += " 01 00";
  Integers full;
  EXPECT_TRUE(from_per(hex, full));
  EXPECT_EQ(full.size(), 128u);
  Integers over;
  EXPECT_FALSE(from_per("80 81" + hex.substr(5) + " 01 00", over));

  // A count the input cannot back creates no more elements than were read.
  Integers claimed;
  EXPECT_FALSE(from_per("64 01 05", claimed));
  EXPECT_EQ(claimed.size(), 1u);
}

TEST(PerStrings, ShortOctetsAreNotAlignedUnderAConstrainedLength) {
  OCTET_STRING two(octets("AB CD"), &kShortOctets);
  EXPECT_EQ(per(two), "2A BC D0");
  OCTET_STRING three(octets("01 02 03"), &kShortOctets);
  EXPECT_EQ(per(three), "30 01 02 03");
  OCTET_STRING back(&kShortOctets);
  ASSERT_TRUE(from_per("2A BC D0", back));
  EXPECT_EQ(back, two);
}

TEST(PerStrings, SizeLimitsOfTheDecoder) {
  std::string body;
  for (int i = 0; i < 16384; ++i) body += " 00";
  OCTET_STRING at_limit(&kLongOctets);
  EXPECT_TRUE(from_per("40 00" + body, at_limit));
  EXPECT_EQ(at_limit.size(), 16384u);
  OCTET_STRING over(&kLongOctets);
  EXPECT_FALSE(from_per("40 01" + body + " 00", over));
  BIT_STRING bits;
  EXPECT_FALSE(from_per("50 FF", bits)) << "80 bits claimed, 8 present";
  EXPECT_EQ(bits.size(), 0u) << "nothing stored for a count the input cannot back";
  IA5String text;
  EXPECT_FALSE(from_per("05 41 42 43 44", text)) << "five characters claimed, four present";
  EXPECT_TRUE(text.empty());
  ASSERT_TRUE(from_per("03 41 42 43", text));
  EXPECT_EQ(text, "ABC");
  OCTET_STRING three;
  ASSERT_TRUE(from_per("03 01 02 03", three));
  EXPECT_EQ(three, OCTET_STRING(std::vector<char>{1, 2, 3}));
}

TEST(PerStrings, CharacterSetsAndWidths) {
  IA5String host(std::string("ab"), &kHostName);
  EXPECT_EQ(per(host), "04 61 62");
  EXPECT_EQ(per(IA5String(std::string(), &kHostName)), "fail");
  EXPECT_EQ(per(IA5String(std::string(65, 'x'), &kHostName)), "fail");

  AbstractString numeric(&NumericString::theInfo, "12 3");
  EXPECT_EQ(per(numeric), "04 23 04");
  AbstractString bad(&NumericString::theInfo, "1a");
  EXPECT_EQ(per(bad), "fail");
  AbstractString printable(&PrintableString::theInfo, "AB");
  EXPECT_EQ(per(printable), "02 41 42");
  BMPString bmp(std::wstring(L"A"));
  EXPECT_EQ(per(bmp), "01 00 41");

  AbstractString back(&NumericString::theInfo);
  ASSERT_TRUE(from_per("04 23 04", back));
  EXPECT_EQ(static_cast<std::string const&>(back), "12 3");
  EXPECT_FALSE(from_per("01 F0", back)) << "an index past the set";
}

TEST(PerOtherKinds, BitStringsIdentifiersAndTimes) {
  BIT_STRING bits;
  bits.resize(9);
  bits.set(0, true);
  bits.set(8, true);
  EXPECT_EQ(per(bits), "09 80 80");
  BIT_STRING back;
  ASSERT_TRUE(from_per("09 80 80", back));
  EXPECT_EQ(back, bits);

  OBJECT_IDENTIFIER oid;
  for (unsigned arc : {1u, 2u, 840u}) oid.append(arc);
  EXPECT_EQ(per(oid), "03 2A 86 48");

  GeneralizedTime t(2024, 1, 2, 3, 4, 5, 0, 0, true);
  GeneralizedTime t_back;
  ASSERT_TRUE(from_per(per(t), t_back));
  EXPECT_EQ(t_back.get(), "20240102030405Z");
  BOOLEAN flag;
  EXPECT_FALSE(from_per("", flag));
}

TEST(PerDecoder, LenientBoundsFailOnlyWhenReencoded) {
  Int0_1023 slot;
  ASSERT_TRUE(from_per("07 FF", slot));
  EXPECT_EQ(slot.getValue(), 2047u) << "the server answers invalidSlot itself";
  EXPECT_EQ(per(slot), "fail");
  ENUMERATED small(&kSmall);
  ASSERT_TRUE(from_per("E0", small));
  EXPECT_EQ(small.asInt(), 7);
  EXPECT_EQ(per(small), "fail");
}

TEST(PerDecoder, MissingBitsFailAndEqualBoundsNeedNone) {
  Int0_1023 slot;
  EXPECT_FALSE(from_per("00", slot));
  Constrained_INTEGER<FixedConstraint, 5, 5> five;
  EXPECT_TRUE(from_per("", five));
  EXPECT_EQ(five.getValue(), 5u);
  INTEGER minus;
  ASSERT_TRUE(from_per("01 FF", minus));
  EXPECT_EQ(minus.getValue(), -1);
  IntSigned low;
  ASSERT_TRUE(from_per("00", low));
  EXPECT_EQ(static_cast<INTEGER&>(low).getValue(), -128);
}

}  // namespace
