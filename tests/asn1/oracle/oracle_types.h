#pragma once
// The types of OracleTest.asn as C++ records, written by hand the way the schema
// generator writes them. Shared by the Erlang comparison, the PER decoder's fuzz target
// and the benchmark; a change here needs the same change in OracleTest.asn.

#include "asn1/asn1.h"

namespace oracle_types {

using namespace ASN1;

using Int0_1 = Constrained_INTEGER<FixedConstraint, 0, 1>;
using Int3_9 = Constrained_INTEGER<FixedConstraint, 3, 9>;
using Int0_200 = Constrained_INTEGER<FixedConstraint, 0, 200>;
using Int1000_1255 = Constrained_INTEGER<FixedConstraint, 1000, 1255>;
using Int0_300 = Constrained_INTEGER<FixedConstraint, 0, 300>;
using Int0_1023 = Constrained_INTEGER<FixedConstraint, 0, 1023>;
using Int0_65535 = Constrained_INTEGER<FixedConstraint, 0, 65535>;
using IntWide = Constrained_INTEGER<FixedConstraint, 112000, 399975>;
using IntAll = Constrained_INTEGER<FixedConstraint, 0, 4294967295u>;
using IntSigned = Constrained_INTEGER<FixedConstraint, -128, 127>;
using IntExtSigned = Constrained_INTEGER<ExtendableConstraint, -10, 10>;

// Colour ::= ENUMERATED { idle, active, standby, blocked, failed }
inline char const* const kColourNames[] = {"idle", "active", "standby", "blocked", "failed"};
inline constexpr EnumeratedInfo kColour{{&ENUMERATED::create, universal(10)}, false, 4, kColourNames, 5};

// Cause ::= ENUMERATED { invalidParams, ..., destroyInProgress, ... }
inline char const* const kCauseNames[] = {
    "invalidParams", "insufficientResources", "invalidSlot",      "slotNotExists",  "unexpectedMsgType",
    "internal",      "unsupported",           "reconnectionFail", "disconnectFail", "connectFail",
    "busError",      "slotIdBusy",            "destroyInProgress"};
inline constexpr EnumeratedInfo kCause{{&ENUMERATED::create, universal(10)}, true, 12, kCauseNames, 13};

// IA5String (SIZE (1..64)) and IA5String (SIZE (4)), without a character set address.
inline constexpr StringInfo kHost{{{&IA5String::create, universal(22)}, FixedConstraint, 1, 64}, nullptr, 128, 7, 7, 8};
inline constexpr StringInfo kCode{{{&IA5String::create, universal(22)}, FixedConstraint, 4, 4}, nullptr, 128, 7, 7, 8};

inline void const* const kRangesFields[] = {&Int0_1::theInfo,     &Int3_9::theInfo,    &Int0_200::theInfo,
                                            &Int1000_1255::theInfo, &Int0_300::theInfo, &Int0_1023::theInfo, &Int0_65535::theInfo,
                                            &IntWide::theInfo,    &IntAll::theInfo,    &IntSigned::theInfo,
                                            &IntExtSigned::theInfo, &INTEGER::theInfo};
inline int const kRangesIds[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline char const* const kRangesNames[] = {"bit",  "small",    "byteWide",  "octet",  "nineBits", "twoOctets", "full16",
                                           "wide", "full32",   "negative",  "extSigned", "plain"};
inline constexpr SequenceInfo kRanges{{&SEQUENCE::create, universal(16)}, false, kRangesFields, kRangesIds, 12, 0, 12,
                                      nullptr, nullptr, kRangesNames};

// Item ::= SEQUENCE { id, label OPTIONAL, ..., weight, state }
inline void const* const kItemFields[] = {&Int0_65535::theInfo, &kHost, &IntSigned::theInfo, &kColour};
inline int const kItemIds[] = {-1, 0};
inline char const* const kItemNames[] = {"id", "label", "weight", "state"};
inline constexpr SequenceInfo kItem{{&SEQUENCE::create, universal(16)}, true, kItemFields, kItemIds, 2, 2, 1,
                                    nullptr, nullptr, kItemNames};

inline constexpr SequenceOfInfo kItems{{{&SEQUENCE_OF_Base::create, universal(16)}, Unconstrained, 0, 4294967295u},
                                       &kItem};
inline constexpr SequenceOfInfo kItemsUpTo4{{{&SEQUENCE_OF_Base::create, universal(16)}, FixedConstraint, 0, 4},
                                            &kItem};

// Body ::= CHOICE { ping, text, number, item, ..., colour, nothing, items }
inline void const* const kBodyAlternatives[] = {&Null::theInfo, &IA5String::theInfo, &INTEGER::theInfo, &kItem,
                                                &kColour,       &Null::theInfo,      &kItemsUpTo4};
inline char const* const kBodyNames[] = {"ping", "text", "number", "item", "colour", "nothing", "items"};
inline constexpr ChoiceInfo kBody{{&CHOICE::create, 0}, true, kBodyAlternatives, 4, 7, nullptr, kBodyNames};

// Top ::= SEQUENCE { twelve root fields, three of them OPTIONAL, ..., four extensions }
inline void const* const kTopFields[] = {&kRanges,         &Null::theInfo,       &BOOLEAN::theInfo,   &kColour,
                                         &kCause,          &kBody,               &kItems,             &OCTET_STRING::theInfo,
                                         &IA5String::theInfo, &kHost,            &kCode,              &INTEGER::theInfo,
                                         &Int0_1023::theInfo, &kBody,            &IA5String::theInfo, &Null::theInfo};
inline int const kTopIds[] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2};
inline char const* const kTopNames[] = {"ranges", "nothing", "flag",  "colour", "cause",  "body",
                                        "list",   "octets",  "text",  "host",   "code",   "count",
                                        "extra",  "choice",  "note",  "marker"};
inline constexpr SequenceInfo kTop{{&SEQUENCE::create, universal(16)}, true, kTopFields, kTopIds, 12, 4, 3,
                                   nullptr, nullptr, kTopNames};

// Port ::= SEQUENCE { number, mode, active }
inline void const* const kPortFields[] = {&Int0_65535::theInfo, &kColour, &BOOLEAN::theInfo};
inline int const kPortIds[] = {-1, -1, -1};
inline char const* const kPortNames[] = {"number", "mode", "active"};
inline constexpr SequenceInfo kPort{{&SEQUENCE::create, universal(16)}, false, kPortFields, kPortIds, 3, 0, 0,
                                    nullptr, nullptr, kPortNames};
inline constexpr SequenceOfInfo kPorts{{{&SEQUENCE_OF_Base::create, universal(16)}, FixedConstraint, 0, 8}, &kPort};

// Message ::= SEQUENCE { ten fields, cause OPTIONAL, ... }
inline void const* const kMessageFields[] = {&IntAll::theInfo, &Int0_1023::theInfo, &IntAll::theInfo, &kColour,
                                             &kCause,          &BOOLEAN::theInfo,    &kHost,           &kBody,
                                             &kPorts,          &IntSigned::theInfo};
inline int const kMessageIds[] = {-1, -1, -1, -1, 0, -1, -1, -1, -1, -1};
inline char const* const kMessageNames[] = {"seq",     "slot", "timestamp", "priority", "cause",
                                            "enabled", "host", "payload",   "ports",    "gain"};
inline constexpr SequenceInfo kMessage{{&SEQUENCE::create, universal(16)}, true, kMessageFields, kMessageIds, 10, 0, 1,
                                       nullptr, nullptr, kMessageNames};

// The module's SEQUENCE types by the names Erlang gives their records.
struct NamedSequence {
  SequenceInfo const* info;
  char const* name;
};
inline constexpr NamedSequence kSequenceNames[] = {
    {&kRanges, "Ranges"}, {&kItem, "Item"}, {&kTop, "Top"}, {&kPort, "Port"}, {&kMessage, "Message"}};

}  // namespace oracle_types
