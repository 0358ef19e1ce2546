// Validity, strict validity and the tracer's explanation of the first fault.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/asn1/test_types.h"

namespace {

using namespace test_types;

struct Verdict {
  bool valid;
  bool strict;
  std::string traced;  // what trace_invalid writes after the title
};

Verdict check(AbstractData const& value) {
  std::ostringstream os;
  bool const passed = trace_invalid(os, "T", value);
  std::string text = os.str();
  EXPECT_EQ(passed, text.empty());
  if (!text.empty()) {
    EXPECT_EQ(text.substr(0, 1), "T");
    EXPECT_EQ(text.back(), '\n');
    text = text.substr(1, text.size() - 2);
  }
  return {value.isValid(), value.isStrictlyValid(), text};
}

void expect(AbstractData const& value, bool valid, bool strict, std::string const& traced) {
  Verdict const v = check(value);
  EXPECT_EQ(v.valid, valid) << value.asValueNotation();
  EXPECT_EQ(v.strict, strict) << value.asValueNotation();
  EXPECT_EQ(v.traced, traced) << value.asValueNotation();
}

inline constexpr ConstrainedInfo kFour{{&OCTET_STRING::create, universal(4)}, FixedConstraint, 0, 4};
inline constexpr ConstrainedInfo kFourExt{{&OCTET_STRING::create, universal(4)}, ExtendableConstraint, 0, 4};
inline constexpr ConstrainedInfo kTwoToFourBits{{&BIT_STRING::create, universal(3)}, FixedConstraint, 2, 4};
inline constexpr SequenceOfInfo kUpToTwo{{{&SEQUENCE_OF_Base::create, universal(16)}, FixedConstraint, 0, 2},
                                         &IntSigned::theInfo};
inline constexpr BMPStringInfo kLatinBmp{{{&BMPString::create, universal(30)}, Unconstrained, 0, 4294967295u},
                                         32,
                                         255,
                                         16,
                                         16};

TEST(Validity, Integers) {
  expect(INTEGER(-5, &INTEGER::theInfo), true, true, "");
  expect(IntSigned(static_cast<unsigned>(-5)), true, true, "");
  expect(IntSigned(200u), false, false, " The INTEGER value 200 is greater than upper bound 127");
  expect(IntSigned(static_cast<unsigned>(-129)), false, false, " The INTEGER value -129 is smaller than lower bound -128");
  expect(IntAll(3000000000u), true, true, "");
  expect(IntWide(111999u), false, false, " The INTEGER value 111999 is smaller than lower bound 112000");
  // Above an extendable range is an extension; below it is a fault all the same.
  expect(INTEGER(11, &kExtSigned), true, false, "");
  expect(INTEGER(-11, &kExtSigned), true, false, " The INTEGER value -11 is smaller than lower bound -10");
}

TEST(Validity, Enumerations) {
  ENUMERATED cause(&kCause);
  cause.setFromInt(12);
  expect(cause, true, true, "");
  cause.setFromInt(13);
  expect(cause, true, false, " This ENUMERATED has invalid value 13");  // extendable
  cause.setFromInt(-1);
  expect(cause, true, true, "");  // a negative value passes
  ENUMERATED small(&kSmall);
  small.setFromInt(6);
  expect(small, false, false, " This ENUMERATED has invalid value 6");
}

TEST(Validity, Strings) {
  expect(OCTET_STRING(5, 'x', &kFour), false, false, " This OCTET STRING has size 5 greater than its upper bound 4");
  expect(OCTET_STRING(5, 'x', &kFourExt), true, false, "");
  expect(OCTET_STRING(4, 'x', &kFour), true, true, "");
  BIT_STRING bits(&kTwoToFourBits);
  bits.resize(1);
  expect(bits, false, false, " This BIT STRING has size 1 smaller than its lower bound 2");
  bits.resize(5);
  expect(bits, false, false, " This BIT STRING has size 5 greater than its upper bound 4");

  expect(IA5String(std::string(65, 'a'), &kHostName), false, false,
         " This AbstractString has size 65 greater than its upper bound 64");
  expect(IA5String(std::string(), &kHostName), false, false, " This AbstractString has size 0 smaller than its lower bound 1");
  expect(AbstractString(&NumericString::theInfo, "12 3"), true, true, "");
  expect(AbstractString(&NumericString::theInfo, "12a3"), false, false, " The character 'a' is not valid for the string");
  expect(AbstractString(&PrintableString::theInfo, "a@b"), false, false, " The character '@' is not valid for the string");

  expect(BMPString(std::wstring(L"ok"), &kLatinBmp), true, true, "");
  expect(BMPString(std::wstring(L"o\u20ac"), &kLatinBmp), false, false, " The character '8364' is not valid for the string");
}

TEST(Validity, OtherSimpleKinds) {
  expect(OBJECT_IDENTIFIER(), false, false, " This OBJECT IDENTIFIER is not assigned");
  expect(GeneralizedTime(2023, 2, 31, 0, 0, 0, 0, 0, false), true, true, "");
  expect(GeneralizedTime(2023, 13, 1, 0, 0, 0, 0, 0, false), false, false, " This GeneralizedTime is not valid");
  expect(Null(), true, true, "");
  expect(BOOLEAN(true), true, true, "");
}

TEST(Validity, Choices) {
  CHOICE body(&kBody);
  expect(body, false, false, " This CHOICE is not selected");
  CHOICE ext(&kExtChoice);
  ext.select(3);
  expect(ext, true, false, "");  // an extension alternative of an extendable type
  CHOICE unknown(&kExtChoice);
  unknown.select(9);
  expect(unknown, false, false, " This selection is not understood by this decoder");
  CHOICE single(&kSingle);
  single.select(0);
  expect(single, true, true, "");
}

TEST(Validity, PathsToTheFirstFault) {
  // SEQUENCE OF with an element out of range, after a passing one.
  SEQUENCE_OF_Base list(&kUpToTwo);
  list.push_back(new IntSigned(5u));
  list.push_back(new IntSigned(300u));
  expect(list, false, false, "[1] The INTEGER value 300 is greater than upper bound 127");
  list.push_back(new IntSigned(1u));
  expect(list, false, false, " This SEQUENCE OF has size 3 greater than its upper bound 2");

  // Outer.e.z is a CHOICE; the path names the field, then the alternative.
  SEQUENCE outer(&kOuter);
  auto& e = static_cast<SEQUENCE&>(*outer.getField(0));
  e.includeOptionalField(1, 2);
  static_cast<INTEGER&>(*e.getField(2)) = 70000;
  expect(outer, false, false, ".e.x The INTEGER value 70000 is greater than upper bound 65535");
  static_cast<INTEGER&>(*e.getField(2)) = 1;
  e.includeOptionalField(3, 4);
  expect(outer, false, false, ".e.z This CHOICE is not selected");
  static_cast<CHOICE&>(*e.getField(4)).select(1);
  auto& text = static_cast<IA5String&>(*static_cast<CHOICE&>(*e.getField(4)).getSelection());
  text = std::string("ok");
  expect(outer, true, true, "");
  text = std::string("o\x80");
  expect(outer, false, false, ".e.z.text The character '\x80' is not valid for the string");

  // An absent optional field that would be invalid does not count.
  text = std::string("ok");
  e.removeOptionalField(1);
  static_cast<INTEGER&>(*e.getField(2)) = 70000;
  expect(outer, true, true, "");
}

TEST(Validity, OpenTypes) {
  OpenData empty;
  expect(empty, false, false, " This Open Type does not contain any valid data");
  OpenData octets;
  octets.grab(new std::vector<char>{1, 2});
  expect(octets, true, true, "");
  OpenData holding(new IntSigned(128u), &OpenData::theInfo);
  expect(holding, false, false, " The INTEGER value 128 is greater than upper bound 127");
}

TEST(Validity, TracerStreamsItsText) {
  InvalidTracer tracer;
  ASSERT_FALSE(OBJECT_IDENTIFIER().accept(tracer));
  std::ostringstream os;
  os << tracer;
  EXPECT_EQ(os.str(), " This OBJECT IDENTIFIER is not assigned");
}

}  // namespace
