#!/usr/bin/env python3
"""Turns the message modules' ASN.1 text into the runtime's constant records and the
data-less typed classes, and into the translation that Erlang's compiler checks.

The text is the subset the message modules use: type assignments of SEQUENCE, CHOICE and
ENUMERATED types with automatic tags, whose fields and alternatives are NULL, BOOLEAN,
INTEGER (optionally a fixed range), OCTET STRING, IA5String (optionally sized),
OBJECT IDENTIFIER, SEQUENCE OF / SET OF a type, or a type of this or another module
(written Module.Type). Identifiers may carry underscores, as the modules' names do.

Usage:
  asn1gen.py cpp OUTDIR MODULE.asn...      headers and sources, one pair per module, and the
                                           table of the types the two messages reach
  asn1gen.py erlang OUTFILE MODULE.asn...  one merged module for Erlang's compiler
"""

import dataclasses
import os
import re
import sys
from typing import Dict, List, Optional, Tuple


class SchemaError(Exception):
    def __init__(self, path, line, message):
        super().__init__(f"{path}:{line}: {message}")


# ---------------------------------------------------------------------------------------
# Model


@dataclasses.dataclass
class Ref:
    """A field's type: a builtin (name, optional range) or a reference to a defined type."""
    kind: str                      # NULL BOOLEAN INTEGER OCTET IA5 OID SEQOF SETOF REF
    lower: Optional[int] = None    # INTEGER range or IA5String size
    upper: Optional[int] = None
    element: Optional["Ref"] = None
    module: Optional[str] = None   # REF: defining module
    name: Optional[str] = None     # REF: type name


@dataclasses.dataclass
class Component:
    name: str
    type: Ref
    optional: bool
    extension: bool
    line: int


@dataclasses.dataclass
class TypeDef:
    module: str
    name: str
    kind: str                       # SEQUENCE CHOICE ENUMERATED
    extensible: bool
    components: List[Component]     # SEQUENCE / CHOICE
    items: List[Tuple[str, int]]    # ENUMERATED
    line: int


@dataclasses.dataclass
class Module:
    name: str
    path: str
    types: List[TypeDef]


# ---------------------------------------------------------------------------------------
# Parser

TOKEN = re.compile(r"""
    (?P<space>[ \t\r]+) |
    (?P<newline>\n) |
    (?P<comment>--[^\n]*?(--|(?=\n)|$)) |
    (?P<assign>::=) |
    (?P<ellipsis>\.\.\.) |
    (?P<range>\.\.) |
    (?P<number>-?\d+) |
    (?P<word>[A-Za-z][A-Za-z0-9_-]*) |
    (?P<punct>[{}(),.])
""", re.VERBOSE)

BUILTIN_WORDS = {"NULL", "BOOLEAN", "INTEGER", "OCTET", "IA5String", "OBJECT", "SEQUENCE", "SET",
                 "CHOICE", "ENUMERATED", "OPTIONAL", "OF", "SIZE", "STRING", "IDENTIFIER",
                 "DEFINITIONS", "AUTOMATIC", "TAGS", "BEGIN", "END"}


class Parser:
    def __init__(self, path, text):
        self.path = path
        self.tokens = []  # (kind, value, line)
        line = 1
        pos = 0
        while pos < len(text):
            m = TOKEN.match(text, pos)
            if not m:
                raise SchemaError(path, line, f"unexpected character {text[pos]!r}")
            kind = m.lastgroup
            value = m.group(kind)
            if kind == "newline":
                line += 1
            elif kind not in ("space", "comment"):
                self.tokens.append((kind, value, line))
            pos = m.end()
        self.tokens.append(("eof", "", line))
        self.at = 0

    def peek(self, offset=0):
        return self.tokens[min(self.at + offset, len(self.tokens) - 1)]

    def take(self):
        token = self.tokens[self.at]
        self.at = min(self.at + 1, len(self.tokens) - 1)
        return token

    def fail(self, message, token=None):
        token = token or self.peek()
        raise SchemaError(self.path, token[2], message)

    def expect(self, value):
        token = self.take()
        if token[1] != value:
            self.fail(f"expected {value!r}, found {token[1] or 'end of file'!r}", token)
        return token

    def word(self, what):
        token = self.take()
        if token[0] != "word":
            self.fail(f"expected {what}, found {token[1] or 'end of file'!r}", token)
        return token

    def number(self):
        token = self.take()
        if token[0] != "number":
            self.fail(f"expected a number, found {token[1] or 'end of file'!r}", token)
        return int(token[1])

    def module(self):
        name = self.word("a module name")[1]
        for w in ("DEFINITIONS", "AUTOMATIC", "TAGS"):
            self.expect(w)
        self.expect("::=")
        self.expect("BEGIN")
        types = []
        while self.peek()[1] != "END":
            if self.peek()[0] == "eof":
                self.fail("missing END")
            types.append(self.assignment(name))
        self.expect("END")
        if self.peek()[0] != "eof":
            self.fail("text after END")
        return Module(name, self.path, types)

    def assignment(self, module):
        name_token = self.word("a type name")
        name = name_token[1]
        if not name[0].isupper():
            self.fail(f"type name {name!r} must start with a capital letter", name_token)
        self.expect("::=")
        kind_token = self.word("SEQUENCE, CHOICE or ENUMERATED")
        kind = kind_token[1]
        if kind == "ENUMERATED":
            extensible, items = self.enumeration()
            return TypeDef(module, name, kind, extensible, [], items, name_token[2])
        if kind in ("SEQUENCE", "CHOICE"):
            if self.peek()[1] == "OF":
                self.fail("a SEQUENCE OF is written as the type of a field, not as a type of its own")
            extensible, components = self.components(kind)
            return TypeDef(module, name, kind, extensible, components, [], name_token[2])
        self.fail(f"a type of its own must be SEQUENCE, CHOICE or ENUMERATED, not {kind!r}", kind_token)

    def enumeration(self):
        self.expect("{")
        items, extensible = [], False
        while True:
            if self.peek()[0] == "ellipsis":
                self.take()
                if extensible:
                    self.fail("a second extension marker")
                extensible = True
            else:
                name = self.word("an enumeration name")[1]
                self.expect("(")
                value = self.number()
                self.expect(")")
                if extensible:
                    self.fail("enumeration additions after the marker are not supported")
                items.append((name, value))
            if self.take()[1] == "}":
                break
            if self.tokens[self.at - 1][1] != ",":
                self.fail("expected ',' or '}'", self.tokens[self.at - 1])
        if not items:
            self.fail("an enumeration needs at least one name")
        return extensible, items

    def components(self, kind):
        self.expect("{")
        components, extensible = [], False
        names = set()
        if self.peek()[1] == "}":
            self.take()
            return extensible, components
        while True:
            if self.peek()[0] == "ellipsis":
                self.take()
                if extensible:
                    self.fail("a second extension marker")
                extensible = True
            else:
                name_token = self.word("a field name")
                name = name_token[1]
                if not name[0].islower():
                    self.fail(f"field name {name!r} must start with a small letter", name_token)
                if name in names:
                    self.fail(f"field {name!r} appears twice", name_token)
                names.add(name)
                ref = self.type()
                optional = False
                if self.peek()[1] == "OPTIONAL":
                    if kind == "CHOICE":
                        self.fail("an alternative cannot be OPTIONAL")
                    self.take()
                    optional = True
                components.append(Component(name, ref, optional, extensible, name_token[2]))
            token = self.take()
            if token[1] == "}":
                break
            if token[1] != ",":
                self.fail("expected ',' or '}'", token)
        return extensible, components

    def type(self):
        token = self.word("a type")
        word = token[1]
        if word == "NULL":
            return Ref("NULL")
        if word == "BOOLEAN":
            return Ref("BOOLEAN")
        if word == "INTEGER":
            if self.peek()[1] == "(":
                self.take()
                lower = self.number()
                self.expect("..")
                upper = self.number()
                self.expect(")")
                if lower > upper or lower < -2**31 or upper > 2**32 - 1:
                    self.fail(f"range {lower}..{upper} does not fit the runtime's integers", token)
                return Ref("INTEGER", lower, upper)
            return Ref("INTEGER")
        if word == "OCTET":
            self.expect("STRING")
            return Ref("OCTET")
        if word == "OBJECT":
            self.expect("IDENTIFIER")
            return Ref("OID")
        if word == "IA5String":
            if self.peek()[1] == "(":
                self.take()
                self.expect("SIZE")
                self.expect("(")
                lower = self.number()
                self.expect("..")
                upper = self.number()
                self.expect(")")
                self.expect(")")
                return Ref("IA5", lower, upper)
            return Ref("IA5")
        if word in ("SEQUENCE", "SET"):
            if self.peek()[1] != "OF":
                self.fail(f"an inline {word} is not supported: give it a name of its own", token)
            self.take()
            return Ref("SEQOF" if word == "SEQUENCE" else "SETOF", element=self.type())
        if word in BUILTIN_WORDS:
            self.fail(f"unsupported type {word!r}", token)
        if self.peek()[1] == ".":
            self.take()
            return Ref("REF", module=word, name=self.word("a type name")[1])
        return Ref("REF", name=word)


def parse(path, text=None):
    if text is None:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    return Parser(path, text).module()


def resolve(modules):
    """Binds every reference to its module and checks that the type exists."""
    known = {(m.name, t.name): t for m in modules for t in m.types}
    for m in modules:
        names = set()
        for t in m.types:
            if t.name in names:
                raise SchemaError(m.path, t.line, f"type {t.name!r} is defined twice")
            names.add(t.name)

    def bind(ref, module, line):
        if ref.kind in ("SEQOF", "SETOF"):
            bind(ref.element, module, line)
        elif ref.kind == "REF":
            ref.module = ref.module or module.name
            if (ref.module, ref.name) not in known:
                raise SchemaError(module.path, line, f"unknown type {ref.module}.{ref.name}")

    for m in modules:
        for t in m.types:
            for c in t.components:
                bind(c.type, m, c.line)
    return known


# The two messages that travel: the controller's and the SNMP agents'.
WIRE_ROOTS = (("LGCP", "Message"), ("MON", "Message"))


def wire_types(modules, known, roots=WIRE_ROOTS):
    """Every type a root reaches (itself included), in module and declaration order; roots
    that the modules do not define are left out."""
    reached, pending = set(), [root for root in roots if root in known]

    def refs(ref):
        if ref.kind in ("SEQOF", "SETOF"):
            yield from refs(ref.element)
        elif ref.kind == "REF":
            yield (ref.module, ref.name)

    while pending:
        key = pending.pop()
        if key in reached:
            continue
        reached.add(key)
        for c in known[key].components:
            pending.extend(refs(c.type))
    return [t for m in modules for t in m.types if (m.name, t.name) in reached]


# ---------------------------------------------------------------------------------------
# Helpers shared by the emitters

CPP_KEYWORDS = set("""alignas alignof and and_eq asm auto bitand bitor bool break case catch char
char8_t char16_t char32_t class compl concept const consteval constexpr constinit const_cast
continue co_await co_return co_yield decltype default delete do double dynamic_cast else enum
explicit export extern false float for friend goto if inline int long mutable namespace new
noexcept not not_eq nullptr operator or or_eq private protected public register
reinterpret_cast requires return short signed sizeof static static_assert static_cast struct
switch template this thread_local throw true try typedef typeid typename union unsigned using
virtual void volatile wchar_t while xor xor_eq""".split())


def ident(name):
    """An ASN.1 name as a C++ identifier: hyphens become underscores."""
    text = name.replace("-", "_")
    return text + "_" if text in CPP_KEYWORDS else text


def optional_numbers(t):
    """Optional-field number of every field (None for mandatory root fields): root OPTIONAL
    fields by rank, then the known extensions after the root OPTIONAL count."""
    numbers, rank = [], 0
    root_optional = sum(1 for c in t.components if c.optional and not c.extension)
    extension = 0
    for c in t.components:
        if c.extension:
            numbers.append(root_optional + extension)
            extension += 1
        elif c.optional:
            numbers.append(rank)
            rank += 1
        else:
            numbers.append(None)
    return numbers


def name_table(items):
    """Enumeration names as the records hold them: an entry whose value does not follow the
    previous one (0 for the first) carries "=value"."""
    table, expected = [], 0
    for name, value in items:
        table.append(name if value == expected else f"{name}={value}")
        expected = value + 1
    return table


def write_if_changed(path, text):
    """Leaves a file whose text is the same untouched, so that what includes it is not rebuilt."""
    old = None
    if os.path.exists(path):
        with open(path, encoding="utf-8") as f:
            old = f.read()
    if old != text:
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


# ---------------------------------------------------------------------------------------
# C++ emitter


class CppEmitter:
    def __init__(self, modules, known):
        self.modules = modules
        self.known = known

    def cls(self, ref, here=None):
        """The C++ class of a field's type."""
        k = ref.kind
        if k == "NULL":
            return "::ASN1::Null"
        if k == "BOOLEAN":
            return "::ASN1::BOOLEAN"
        if k == "INTEGER":
            if ref.lower is None:
                return "::ASN1::INTEGER"
            return f"::ASN1::Constrained_INTEGER<::ASN1::FixedConstraint, {ref.lower}, {ref.upper}u>"
        if k == "OCTET":
            return "::ASN1::OCTET_STRING"
        if k == "IA5":
            return "::ASN1::IA5String"
        if k == "OID":
            return "::ASN1::OBJECT_IDENTIFIER"
        if k in ("SEQOF", "SETOF"):
            template = "SEQUENCE_OF" if k == "SEQOF" else "SET_OF"
            return f"::ASN1::{template}<{self.cls(ref.element)}>"
        return f"::{ref.module}::{ref.name}"

    def record(self, ref, sized_records):
        """The address of a field type's record."""
        if ref.kind == "NULL":
            return "&::ASN1::Null::theInfo"
        if ref.kind == "BOOLEAN":
            return "&::ASN1::BOOLEAN::theInfo"
        if ref.kind == "IA5" and ref.lower is not None:
            return "&" + sized_records[(ref.lower, ref.upper)]
        return f"&{self.cls(ref)}::theInfo"

    def value_type(self, ref):
        """What set_x(value) takes, or None when the field is filled through set_x()."""
        k = ref.kind
        if k == "INTEGER":
            return "int" if ref.lower is None else "unsigned"
        if k == "BOOLEAN":
            return "bool"
        if k == "IA5":
            return "::std::string const&"
        if k == "OCTET":
            return "::std::vector<char> const&"
        if k == "REF" and self.known[(ref.module, ref.name)].kind == "ENUMERATED":
            return f"{self.cls(ref)}::NamedNumber"
        if k in ("REF", "SEQOF", "SETOF"):
            return f"{self.cls(ref)} const&"
        return None

    def referenced_modules(self, module):
        found = []

        def visit(ref):
            if ref.kind in ("SEQOF", "SETOF"):
                visit(ref.element)
            elif ref.kind == "REF" and ref.module != module.name and ref.module not in found:
                found.append(ref.module)

        for t in module.types:
            for c in t.components:
                visit(c.type)
        return found

    def emit(self, module, outdir):
        base = module.name.lower()
        files = ((f"{base}_enums.h", self.enums_header(module)), (f"{base}_classes.h", self.classes_header(module)),
                 (f"{base}.h", self.header(module)), (f"{base}.cpp", self.source(module)))
        for name, text in files:
            write_if_changed(os.path.join(outdir, name), text)

    def emit_wire_types(self, outdir):
        for name, text in (("wire_types.h", self.wire_types_header()), ("wire_types.cpp", self.wire_types_source())):
            write_if_changed(os.path.join(outdir, name), text)

    @staticmethod
    def wire_types_header():
        return "\n".join([
            "// Generated from the message modules: do not edit.",
            "#pragma once",
            "",
            "#include <span>",
            "",
            "namespace Schemas {",
            "",
            "// A type that LGCP::Message or MON::Message reaches, by its names and its record.",
            "struct WireType {",
            "  char const* module;  // \"LGCP\"",
            "  char const* name;    // \"Message\"",
            "  char const* erlang;  // its name in the translation for Erlang's compiler",
            "  void const* info;",
            "};",
            "",
            "// In module and declaration order.",
            "std::span<WireType const> wire_types();",
            "",
            "}  // namespace Schemas",
        ]) + "\n"

    def wire_types_source(self):
        types = wire_types(self.modules, self.known)
        out = ["// Generated from the message modules: do not edit.", '#include "schemas/wire_types.h"', ""]
        out += [f'#include "schemas/{m.name.lower()}.h"' for m in self.modules if any(t.module == m.name for t in types)]
        out += ["", "namespace Schemas {", "", "namespace {", f"constinit WireType const kWireTypes[{max(len(types), 1)}] = {{"]
        out += [f'    {{"{t.module}", "{t.name}", "{erlang_type_name(t.module, t.name)}", &::{t.module}::{t.name}::theInfo}},'
                for t in types]
        if not types:
            out.append("    {nullptr, nullptr, nullptr, nullptr},")
        out += ["};", "}  // namespace", "",
                f"std::span<WireType const> wire_types() {{ return {{kWireTypes, {len(types)}}}; }}", "",
                "}  // namespace Schemas"]
        return "\n".join(out) + "\n"

    # The enumerations first: they depend on nothing but the runtime, and the classes of
    # every module name their NamedNumber.
    def enums_header(self, m):
        out = [f"// Generated from schemas/{m.name.lower()}/{m.name.lower()}.asn: do not edit.",
               "#pragma once", "", '#include "asn1/asn1.h"', "", f"namespace {m.name} {{", ""]
        for t in m.types:
            if t.kind == "ENUMERATED":
                out += self.class_enumerated(t)
                out.append("")
        out.append(f"}}  // namespace {m.name}")
        return "\n".join(out) + "\n"

    # The class definitions: they need only the enumerations and the runtime, so that
    # modules that refer to each other can include them in any order.
    def classes_header(self, m):
        base = m.name.lower()
        out = [f"// Generated from schemas/{base}/{base}.asn: do not edit.", "#pragma once", "",
               '#include "asn1/accessors.h"', '#include "asn1/asn1.h"', f'#include "schemas/{base}_enums.h"']
        out += [f'#include "schemas/{other.lower()}_enums.h"' for other in self.referenced_modules(m)]
        out.append("")
        others = {}
        for t in m.types:
            for c in t.components:
                self.collect_foreign(c.type, m.name, others)
        for mod, names in others.items():
            out.append(f"namespace {mod} {{")
            out += [f"class {n};" for n in sorted(names)]
            out.append("}")
        out.append(f"namespace {m.name} {{")
        out += [f"class {t.name};" for t in m.types if t.kind != "ENUMERATED"]
        out.append("")
        for t in m.types:
            if t.kind != "ENUMERATED":
                out += getattr(self, "class_" + t.kind.lower())(t)
                out.append("")
        out.append(f"}}  // namespace {m.name}")
        return "\n".join(out) + "\n"

    def collect_foreign(self, ref, here, others):
        if ref.kind in ("SEQOF", "SETOF"):
            self.collect_foreign(ref.element, here, others)
        elif ref.kind == "REF" and ref.module != here and self.known[(ref.module, ref.name)].kind != "ENUMERATED":
            others.setdefault(ref.module, set()).add(ref.name)

    def class_common(self, t, base):
        return [
            f"  static ::ASN1::{base}Info const theInfo;",
            "  // The record's creation function: builds this class, so typed access never downcasts.",
            "  static ::ASN1::AbstractData* make_(void const*);",
            f"  {t.name}* clone() const {{ return static_cast<{t.name}*>(::ASN1::AbstractData::clone()); }}",
        ]

    def class_sequence(self, t):
        n = len(t.components)
        roots = sum(1 for c in t.components if not c.extension)
        out = [f"class {t.name} : public ::ASN1::SEQUENCE {{", "public:"]
        out += self.class_common(t, "Sequence")
        if n:
            out.append(f"  static void const* const fieldInfos[{n}];")
            out.append(f"  static char const* const fieldNames[{n}];")
        if roots:
            out.append(f"  static int const fieldIds[{roots}];")
        out += [f"  {t.name}() : ::ASN1::SEQUENCE(&theInfo) {{}}",
                f"  {t.name}({t.name} const&) = default;",
                f"  {t.name}& operator=({t.name} const&) = default;"]
        for c, number in zip(t.components, optional_numbers(t)):
            x = ident(c.name)
            cls = self.cls(c.type)
            out.append(f"  {cls} const& get_{x}() const;")
            out.append(f"  {cls}& ref_{x}();")
            value = self.value_type(c.type)
            if number is None or c.type.kind in ("SEQOF", "SETOF") or c.type.kind == "NULL":
                out.append(f"  {cls}& set_{x}();")
            if value:
                out.append(f"  void set_{x}({value} value);")
            if number is not None:
                out.append(f"  void omit_{x}();")
                out.append(f"  bool {x}_isPresent() const;")
        out.append("};")
        return out

    def class_choice(self, t):
        out = [f"class {t.name} : public ::ASN1::CHOICE {{", "public:"]
        out += self.class_common(t, "Choice")
        n = len(t.components)
        out.append(f"  static void const* const selectionInfos[{n}];")
        out.append(f"  static char const* const selectionNames[{n}];")
        for i, c in enumerate(t.components):
            x = ident(c.name)
            out.append(f"  struct {x} {{")
            out.append(f"    enum Id : int {{ id = {i} }};")
            out.append("  };")
        out.append(f"  {t.name}() : ::ASN1::CHOICE(&theInfo) {{}}")
        out.append(f"  {t.name}({t.name} const&) = default;")
        out.append(f"  {t.name}& operator=({t.name} const&) = default;")
        for i, c in enumerate(t.components):
            x = ident(c.name)
            cls = self.cls(c.type)
            value = self.value_type(c.type) or f"{cls} const&"
            out.append(f"  {t.name}({x}::Id, {value} value);")
            out.append(f"  {cls} const& get_{x}() const;")
            out.append(f"  {cls}& ref_{x}();")
            out.append(f"  bool {x}_isSelected() const {{ return ::ASN1::CHOICE::currentSelection() == {i}; }}")
            out.append(f"  {cls}& select_{x}();")
            out.append(f"  {cls}& select_{x}({value} value);")
        out.append("};")
        return out

    def class_enumerated(self, t):
        out = [f"class {t.name} : public ::ASN1::ENUMERATED {{", "public:"]
        out += self.class_common(t, "Enumerated")
        out.append(f"  static char const* const names[{len(t.items)}];")
        out.append("  enum NamedNumber : int {")
        out += [f"    {ident(name)} = {value}," for name, value in t.items]
        out.append("  };")
        out += [f"  {t.name}() : ::ASN1::ENUMERATED(&theInfo) {{}}",
                f"  {t.name}(NamedNumber value) : ::ASN1::ENUMERATED(&theInfo) {{ ::ASN1::ENUMERATED::setFromInt(value); }}",
                f"  {t.name}({t.name} const&) = default;",
                f"  {t.name}& operator=({t.name} const&) = default;",
                f"  {t.name}& operator=(NamedNumber value) {{",
                "    ::ASN1::ENUMERATED::setFromInt(value);",
                "    return *this;",
                "  }",
                "  operator NamedNumber() const { return static_cast<NamedNumber>(::ASN1::ENUMERATED::asInt()); }"]
        seen = set()
        for name, value in t.items:
            x = ident(name)
            if x in seen:
                continue
            seen.add(x)
            out.append(f"  void set_{x}() {{ ::ASN1::ENUMERATED::setFromInt({value}); }}")
            out.append(f"  bool is_{x}() const {{ return ::ASN1::ENUMERATED::asInt() == {value}; }}")
        out.append("};")
        return out

    # The header users include: the classes of this module and of every module it refers
    # to, then the accessors, which need those classes complete.
    def header(self, m):
        base = m.name.lower()
        out = [f"// Generated from schemas/{base}/{base}.asn: do not edit.", "#pragma once", "",
               f'#include "schemas/{base}_classes.h"']
        out += [f'#include "schemas/{other.lower()}_classes.h"' for other in self.referenced_modules(m)]
        out += ["", f"namespace {m.name} {{", ""]
        for t in m.types:
            if t.kind == "SEQUENCE":
                out += self.accessors_sequence(t)
            elif t.kind == "CHOICE":
                out += self.accessors_choice(t)
        out.append(f"}}  // namespace {m.name}")
        return "\n".join(out) + "\n"

    @staticmethod
    def assign(target):
        """Statement that stores `value` into the field object `target` (an lvalue)."""
        return f"{target} = value;"

    def accessors_sequence(self, t):
        out = []
        for i, (c, number) in enumerate(zip(t.components, optional_numbers(t))):
            x = ident(c.name)
            cls = self.cls(c.type)
            present = "true" if number is None else f"::ASN1::SEQUENCE::hasOptionalField({number})"
            where = f'"{t.module}::{t.name}", "{c.name}"'
            out += [
                f"inline {cls} const& {t.name}::get_{x}() const {{",
                f"  return ::ASN1::detail::checked<{cls}>(::ASN1::SEQUENCE::getField({i}), {present}, {where});",
                "}",
                f"inline {cls}& {t.name}::ref_{x}() {{",
                f"  return ::ASN1::detail::checked<{cls}>(::ASN1::SEQUENCE::getField({i}), {present}, {where});",
                "}",
            ]
            value = self.value_type(c.type)
            include = "" if number is None else f"::ASN1::SEQUENCE::includeOptionalField({number}, {i});\n  "
            if number is None or c.type.kind in ("SEQOF", "SETOF", "NULL"):
                out += [f"inline {cls}& {t.name}::set_{x}() {{",
                        f"  {include}return static_cast<{cls}&>(::ASN1::SEQUENCE::makeField({i}));",
                        "}"]
            if value:
                target = f"static_cast<{cls}&>(::ASN1::SEQUENCE::makeField({i}))"
                out += [f"inline void {t.name}::set_{x}({value} value) {{",
                        f"  {include}{self.assign(target)}",
                        "}"]
            if number is not None:
                out += [f"inline void {t.name}::omit_{x}() {{ ::ASN1::SEQUENCE::removeOptionalField({number}); }}",
                        f"inline bool {t.name}::{x}_isPresent() const {{ return ::ASN1::SEQUENCE::hasOptionalField({number}); }}"]
        return out

    def accessors_choice(self, t):
        out = []
        for i, c in enumerate(t.components):
            x = ident(c.name)
            cls = self.cls(c.type)
            value = self.value_type(c.type) or f"{cls} const&"
            where = f'"{t.module}::{t.name}", "{c.name}"'
            make = f"::ASN1::AbstractData::create({t.name}::selectionInfos[{i}])"
            out += [
                f"inline {t.name}::{t.name}({x}::Id, {value} value) : ::ASN1::CHOICE(&theInfo) {{ select_{x}(value); }}",
                f"inline {cls} const& {t.name}::get_{x}() const {{",
                f"  return ::ASN1::detail::checked<{cls}>(::ASN1::CHOICE::getSelection(), ::ASN1::CHOICE::currentSelection() == {i}, {where});",
                "}",
                f"inline {cls}& {t.name}::ref_{x}() {{",
                f"  return ::ASN1::detail::checked<{cls}>(::ASN1::CHOICE::getSelection(), ::ASN1::CHOICE::currentSelection() == {i}, {where});",
                "}",
                f"inline {cls}& {t.name}::select_{x}() {{",
                f"  return static_cast<{cls}&>(*::ASN1::CHOICE::setSelection({i}, {make}));",
                "}",
                f"inline {cls}& {t.name}::select_{x}({value} value) {{",
                f"  {cls}& selected = select_{x}();",
                f"  {self.assign('selected')}",
                "  return selected;",
                "}",
            ]
        return out

    def source(self, m):
        base = m.name.lower()
        out = [f"// Generated from schemas/{base}/{base}.asn: do not edit.", f'#include "schemas/{base}.h"', ""]
        out += [f'#include "schemas/{other.lower()}.h"' for other in self.referenced_modules(m)]
        out += ["", f"namespace {m.name} {{", ""]
        sized = {}
        for t in m.types:
            for c in t.components:
                self.collect_sized(c.type, sized)
        if sized:
            out.append("namespace {")
            for (lower, upper), name in sized.items():
                out.append(f"// IA5String (SIZE ({lower}..{upper}))")
                out.append(f"constinit ::ASN1::StringInfo const {name}{{{{{{&::ASN1::IA5String::create, "
                           f"::ASN1::universal(22)}}, ::ASN1::FixedConstraint, {lower}, {upper}u}}, nullptr, 128, 7, 7, 8}};")
            out.append("}  // namespace")
            out.append("")
        for t in m.types:
            out += getattr(self, "records_" + t.kind.lower())(t, sized)
            out.append("")
        out.append(f"}}  // namespace {m.name}")
        return "\n".join(out) + "\n"

    def collect_sized(self, ref, sized):
        if ref.kind in ("SEQOF", "SETOF"):
            self.collect_sized(ref.element, sized)
        elif ref.kind == "IA5" and ref.lower is not None:
            sized.setdefault((ref.lower, ref.upper), f"kIA5String_{ref.lower}_{ref.upper}")

    def make_function(self, t):
        return [f"::ASN1::AbstractData* {t.name}::make_(void const*) {{ return new {t.name}; }}"]

    def records_sequence(self, t, sized):
        n = len(t.components)
        roots = [c for c in t.components if not c.extension]
        numbers = optional_numbers(t)
        root_optional = sum(1 for c in roots if c.optional)
        out = self.make_function(t)
        if n:
            out.append(f"constinit void const* const {t.name}::fieldInfos[{n}] = {{")
            out += [f"    {self.record(c.type, sized)}," for c in t.components]
            out.append("};")
            out.append(f"constinit char const* const {t.name}::fieldNames[{n}] = {{")
            out += [f"    {c_string(c.name)}," for c in t.components]
            out.append("};")
        if roots:
            ids = ", ".join("-1" if number is None else str(number) for c, number in zip(t.components, numbers)
                            if not c.extension)
            out.append(f"constinit int const {t.name}::fieldIds[{len(roots)}] = {{{ids}}};")
        extensible = "true" if t.extensible else "false"
        out.append(f"constinit ::ASN1::SequenceInfo const {t.name}::theInfo{{")
        out.append(f"    {{&{t.name}::make_, ::ASN1::universal(16)}}, {extensible},")
        out.append(f"    {'fieldInfos' if n else 'nullptr'}, {'fieldIds' if roots else 'nullptr'},")
        out.append(f"    {len(roots)}, {n - len(roots)}, {root_optional}, nullptr, nullptr,")
        out.append(f"    {'fieldNames' if n else 'nullptr'}}};")
        return out

    def records_choice(self, t, sized):
        n = len(t.components)
        roots = sum(1 for c in t.components if not c.extension)
        out = self.make_function(t)
        out.append(f"constinit void const* const {t.name}::selectionInfos[{n}] = {{")
        out += [f"    {self.record(c.type, sized)}," for c in t.components]
        out.append("};")
        out.append(f"constinit char const* const {t.name}::selectionNames[{n}] = {{")
        out += [f"    {c_string(c.name)}," for c in t.components]
        out.append("};")
        extensible = "true" if t.extensible else "false"
        out.append(f"constinit ::ASN1::ChoiceInfo const {t.name}::theInfo{{")
        out.append(f"    {{&{t.name}::make_, 0}}, {extensible}, selectionInfos, {roots}, {n}, nullptr, selectionNames}};")
        return out

    def records_enumerated(self, t, sized):
        table = name_table(t.items)
        maximum = max(value for _, value in t.items)
        out = self.make_function(t)
        out.append(f"constinit char const* const {t.name}::names[{len(table)}] = {{")
        out += [f"    {c_string(entry)}," for entry in table]
        out.append("};")
        extensible = "true" if t.extensible else "false"
        out.append(f"constinit ::ASN1::EnumeratedInfo const {t.name}::theInfo{{")
        out.append(f"    {{&{t.name}::make_, ::ASN1::universal(10)}}, {extensible}, {maximum}, names, {len(table)}}};")
        return out


# ---------------------------------------------------------------------------------------
# Erlang translation: one merged module, names made safe for Erlang's compiler, every
# ENUMERATED as the INTEGER range it is coded as here.


def erlang_type_name(module, name):
    return f"{module}-{name}".replace("_", "-")


def erlang_field_name(name):
    return name.replace("_", "-")


def erlang_type(ref):
    k = ref.kind
    if k == "INTEGER":
        return "INTEGER" if ref.lower is None else f"INTEGER ({ref.lower}..{ref.upper})"
    if k == "OCTET":
        return "OCTET STRING"
    if k == "IA5":
        return "IA5String" if ref.lower is None else f"IA5String (SIZE ({ref.lower}..{ref.upper}))"
    if k == "OID":
        return "OBJECT IDENTIFIER"
    if k in ("SEQOF", "SETOF"):
        return ("SEQUENCE OF " if k == "SEQOF" else "SET OF ") + erlang_type(ref.element)
    if k == "REF":
        return erlang_type_name(ref.module, ref.name)
    return k


def emit_erlang(modules, name="GW"):
    out = [f"{name} DEFINITIONS AUTOMATIC TAGS ::= BEGIN", ""]
    for m in modules:
        for t in m.types:
            tname = erlang_type_name(m.name, t.name)
            if t.kind == "ENUMERATED":
                maximum = max(value for _, value in t.items)
                marker = ", ..." if t.extensible else ""
                out.append(f"{tname} ::= INTEGER (0..{maximum}{marker})")
                continue
            parts, marked = [], False
            names = set()
            for c in t.components:
                if c.extension and not marked:
                    parts.append("  ...")
                    marked = True
                field = erlang_field_name(c.name)
                if field in names:
                    raise SchemaError(m.path, c.line, f"{c.name!r} clashes with another name once made safe")
                names.add(field)
                parts.append(f"  {field} {erlang_type(c.type)}" + (" OPTIONAL" if c.optional else ""))
            if t.extensible and not marked:
                parts.append("  ...")
            out.append(f"{tname} ::= {t.kind} {{")
            out.append(",\n".join(parts))
            out.append("}")
        out.append("")
    out.append("END")
    return "\n".join(out) + "\n"


def main(argv):
    if len(argv) < 3 or argv[0] not in ("cpp", "erlang"):
        sys.stderr.write(__doc__)
        return 2
    try:
        modules = [parse(path) for path in argv[2:]]
        known = resolve(modules)
        if argv[0] == "cpp":
            os.makedirs(argv[1], exist_ok=True)
            emitter = CppEmitter(modules, known)
            for m in modules:
                emitter.emit(m, argv[1])
            emitter.emit_wire_types(argv[1])
        else:
            text = emit_erlang(modules)
            with open(argv[1], "w", encoding="utf-8") as f:
                f.write(text)
    except SchemaError as e:
        sys.stderr.write(f"asn1gen: {e}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
