#pragma once
// Records of a few test types, written by hand the way the schema generator writes them.

#include "asn1/asn1.h"

namespace test_types {

using namespace ASN1;

using Int0_1023 = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using Int0_65535 = Constrained_INTEGER<FixedConstraint, 0, 65535>;
using IntAll = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;
using IntSigned = Constrained_INTEGER<FixedConstraint, -128, 127>;
using IntWide = Constrained_INTEGER<FixedConstraint, 112000, 399975>;

// ENUMERATED { invalidParams, ..., destroyInProgress, ... }: extendable, maximum 12.
inline char const* const kCauseNames[] = {
    "invalidParams", "insufficientResources", "invalidSlot",  "slotNotExists",    "unexpectedMsgType",
    "internal",      "unsupported",           "reconnectionFail", "disconnectFail", "connectFail",
    "busError",      "slotIdBusy",            "destroyInProgress"};
inline constexpr EnumeratedInfo kCause{{&ENUMERATED::create, universal(10)}, true, 12, kCauseNames, 13};

// Names whose values jump: "b=5" is 5, "c" 6, "d=123" 123.
inline char const* const kJumpNames[] = {"a", "b=5", "c", "d=123"};
inline constexpr EnumeratedInfo kJump{{&ENUMERATED::create, universal(10)}, false, 123, kJumpNames, 4};

inline constexpr EnumeratedInfo kSmall{{&ENUMERATED::create, universal(10)}, false, 5, nullptr, 0};
inline constexpr EnumeratedInfo kSmallExt{{&ENUMERATED::create, universal(10)}, true, 5, nullptr, 0};

// SEQUENCE { seq INTEGER OPTIONAL, slot INTEGER (0..1023) OPTIONAL, pdu Body } with Body a
// CHOICE { ping NULL, text IA5String, number INTEGER }.
inline void const* const kBodyAlternatives[] = {&Null::theInfo, &IA5String::theInfo, &INTEGER::theInfo};
inline char const* const kBodyNames[] = {"ping", "text", "number"};
inline constexpr ChoiceInfo kBody{{&CHOICE::create, 0}, false, kBodyAlternatives, 3, 3, nullptr, kBodyNames};

inline void const* const kMessageFields[] = {&INTEGER::theInfo, &Int0_1023::theInfo, &kBody};
inline int const kMessageIds[] = {0, 1, -1};
inline char const* const kMessageNames[] = {"seq", "slot", "pdu"};
inline constexpr SequenceInfo kMessage{{&SEQUENCE::create, universal(16)}, false, kMessageFields, kMessageIds, 3, 0, 2,
                                       nullptr, nullptr, kMessageNames};

// An extensible SEQUENCE: root { a BOOLEAN, b INTEGER OPTIONAL }, extensions
// { x INTEGER (0..65535), y IA5String, z Body }.
inline void const* const kExtFields[] = {&BOOLEAN::theInfo, &INTEGER::theInfo, &Int0_65535::theInfo,
                                         &IA5String::theInfo, &kBody};
inline int const kExtIds[] = {-1, 0};
inline char const* const kExtNames[] = {"a", "b", "x", "y", "z"};
inline constexpr SequenceInfo kExtensible{{&SEQUENCE::create, universal(16)}, true, kExtFields, kExtIds, 2, 3, 1,
                                          nullptr, nullptr, kExtNames};

// The same type as an older peer knows it: no extensions.
inline constexpr SequenceInfo kExtensibleOld{{&SEQUENCE::create, universal(16)}, true, kExtFields, kExtIds, 2, 0, 1,
                                             nullptr, nullptr, kExtNames};

// CHOICE { a NULL, b INTEGER, ..., c BOOLEAN, d IA5String }
inline void const* const kExtChoiceAlternatives[] = {&Null::theInfo, &INTEGER::theInfo, &BOOLEAN::theInfo,
                                                     &IA5String::theInfo};
inline char const* const kExtChoiceNames[] = {"a", "b", "c", "d"};
inline constexpr ChoiceInfo kExtChoice{{&CHOICE::create, 0}, true, kExtChoiceAlternatives, 2, 4, nullptr,
                                       kExtChoiceNames};
inline constexpr ChoiceInfo kExtChoiceOld{{&CHOICE::create, 0}, true, kExtChoiceAlternatives, 2, 2, nullptr,
                                          kExtChoiceNames};

// CHOICE { only INTEGER }
inline void const* const kSingleAlternatives[] = {&INTEGER::theInfo};
inline char const* const kSingleNames[] = {"only"};
inline constexpr ChoiceInfo kSingle{{&CHOICE::create, 0}, false, kSingleAlternatives, 1, 1, nullptr, kSingleNames};

// IA5String (SIZE (1..64)) without a character set address, as the schemas have it.
inline constexpr StringInfo kHostName{{{&IA5String::create, universal(22)}, FixedConstraint, 1, 64}, nullptr, 128, 7,
                                      7, 8};
// OCTET STRING (SIZE (0..8))
inline constexpr ConstrainedInfo kShortOctets{{&OCTET_STRING::create, universal(4)}, FixedConstraint, 0, 8};
// INTEGER (-10..10, ...) and INTEGER (0..10, ...)
inline constexpr ConstrainedInfo kExtSigned{{&INTEGER::create, universal(2)}, ExtendableConstraint, -10, 10};
inline constexpr ConstrainedInfo kExtUnsigned{{&INTEGER::create, universal(2)}, ExtendableConstraint, 0, 10};

using Integers = SEQUENCE_OF<INTEGER>;

}  // namespace test_types

namespace test_types {

// CHOICE { only NULL }: takes no bits at all.
inline void const* const kNullOnlyAlternatives[] = {&Null::theInfo};
inline char const* const kNullOnlyNames[] = {"only"};
inline constexpr ChoiceInfo kNullOnly{{&CHOICE::create, 0}, false, kNullOnlyAlternatives, 1, 1, nullptr,
                                      kNullOnlyNames};

// CHOICE { a INTEGER, ..., e NULL }: an extension that encodes to no bits.
inline void const* const kNullExtAlternatives[] = {&INTEGER::theInfo, &Null::theInfo};
inline char const* const kNullExtNames[] = {"a", "e"};
inline constexpr ChoiceInfo kNullExt{{&CHOICE::create, 0}, true, kNullExtAlternatives, 1, 2, nullptr, kNullExtNames};

// SEQUENCE { e Extensible, after INTEGER }
inline void const* const kOuterFields[] = {&kExtensible, &INTEGER::theInfo};
inline int const kOuterIds[] = {-1, -1};
inline char const* const kOuterNames[] = {"e", "after"};
inline constexpr SequenceInfo kOuter{{&SEQUENCE::create, universal(16)}, false, kOuterFields, kOuterIds, 2, 0, 0,
                                     nullptr, nullptr, kOuterNames};

// OCTET STRING (SIZE (0..20000)): lengths above 16383 in a constrained field.
inline constexpr ConstrainedInfo kLongOctets{{&OCTET_STRING::create, universal(4)}, FixedConstraint, 0, 20000};

}  // namespace test_types
