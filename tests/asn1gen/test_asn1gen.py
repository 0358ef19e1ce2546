"""The schema generator's own rules: parsing with line numbers, optional-bit numbering,
name tables and the Erlang translation."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools", "asn1gen"))
import asn1gen  # noqa: E402


def module(text, name="M"):
    return asn1gen.parse(f"{name}.asn", f"{name} DEFINITIONS AUTOMATIC TAGS ::= BEGIN\n{text}\nEND\n")


class Parsing(unittest.TestCase):
    def error(self, text):
        with self.assertRaises(asn1gen.SchemaError) as caught:
            m = module(text)
            asn1gen.resolve([m])
        return str(caught.exception)

    def test_errors_name_their_line(self):
        self.assertIn("M.asn:4: expected ',' or '}'", self.error("A ::= SEQUENCE {\n  a INTEGER\n  b BOOLEAN\n}"))
        self.assertIn("M.asn:3: unknown type M.Missing", self.error("A ::= SEQUENCE {\n  a Missing\n}"))
        self.assertIn("field 'a' appears twice", self.error("A ::= SEQUENCE { a NULL, a NULL }"))
        self.assertIn("inline SEQUENCE", self.error("A ::= SEQUENCE { a SEQUENCE { b NULL } }"))
        self.assertIn("cannot be OPTIONAL", self.error("A ::= CHOICE { a NULL OPTIONAL }"))
        self.assertIn("defined twice", self.error("A ::= SEQUENCE { }\nA ::= SEQUENCE { }"))
        self.assertIn("must start with a capital", self.error("a ::= SEQUENCE { }"))
        self.assertIn("unexpected character", self.error("A ::= SEQUENCE { a NULL; }"))

    def test_comments_and_references_across_modules(self):
        a = module("-- a comment\nA ::= SEQUENCE { b B.Thing, c SEQUENCE OF B.Thing } -- trailing", "A")
        b = module("Thing ::= ENUMERATED { x(0), y(5), ... }", "B")
        known = asn1gen.resolve([a, b])
        self.assertEqual(a.types[0].components[0].type.module, "B")
        self.assertEqual(known[("B", "Thing")].items, [("x", 0), ("y", 5)])
        self.assertTrue(known[("B", "Thing")].extensible)


class Numbering(unittest.TestCase):
    def test_optional_bits_are_ranks_and_extensions_follow_the_root_optionals(self):
        t = module("S ::= SEQUENCE { a INTEGER, b INTEGER OPTIONAL, c INTEGER, d NULL OPTIONAL, ..., "
                   "e BOOLEAN, f BOOLEAN OPTIONAL }").types[0]
        self.assertEqual(asn1gen.optional_numbers(t), [None, 0, None, 1, 2, 3])

    def test_name_tables_mark_where_values_jump(self):
        self.assertEqual(asn1gen.name_table([("a", 0), ("b", 1), ("c", 8), ("d", 9), ("e", 3)]),
                         ["a", "b", "c=8", "d", "e=3"])
        self.assertEqual(asn1gen.name_table([("not-use", -1), ("active", 0)]), ["not-use=-1", "active"])
        self.assertEqual(asn1gen.name_table([("x", 4097)]), ["x=4097"])

    def test_cpp_names(self):
        self.assertEqual(asn1gen.ident("rtp-g711mcc"), "rtp_g711mcc")
        self.assertEqual(asn1gen.ident("default"), "default_")


class WireTypes(unittest.TestCase):
    def test_the_roots_reach_through_lists_and_modules_and_nothing_else(self):
        a = module("Message ::= SEQUENCE { body Body, list SEQUENCE OF B.Item }\n"
                   "Body ::= CHOICE { x NULL, e B.Colour }\nLoose ::= SEQUENCE { b Body }", "A")
        b = module("Item ::= SEQUENCE { c Colour }\nColour ::= ENUMERATED { red(0) }\n"
                   "Unused ::= ENUMERATED { x(0) }", "B")
        known = asn1gen.resolve([a, b])
        reached = asn1gen.wire_types([a, b], known, roots=[("A", "Message"), ("Z", "Message")])
        self.assertEqual([(t.module, t.name) for t in reached],
                         [("A", "Message"), ("A", "Body"), ("B", "Item"), ("B", "Colour")])

    def test_the_table_names_each_type_as_the_translation_does(self):
        a = module("Message ::= SEQUENCE { p Sub_Type }\nSub_Type ::= SEQUENCE { }", "LGCP")
        known = asn1gen.resolve([a])
        text = asn1gen.CppEmitter([a], known).wire_types_source()
        self.assertIn('{"LGCP", "Message", "LGCP-Message", &::LGCP::Message::theInfo},', text)
        self.assertIn('{"LGCP", "Sub_Type", "LGCP-Sub-Type", &::LGCP::Sub_Type::theInfo},', text)
        self.assertIn("return {kWireTypes, 2};", text)
        self.assertIn("LGCP-Sub-Type ::= SEQUENCE", asn1gen.emit_erlang([a]))


class Erlang(unittest.TestCase):
    def test_translation_merges_modules_and_codes_enumerations_as_ranges(self):
        a = module("A ::= SEQUENCE { trunk_bri B.E OPTIONAL, ... }", "A")
        b = module("E ::= ENUMERATED { x(0), y(2), z(1), ... }\nF ::= ENUMERATED { p(3) }", "B")
        asn1gen.resolve([a, b])
        text = asn1gen.emit_erlang([a, b])
        self.assertIn("A-A ::= SEQUENCE {\n  trunk-bri B-E OPTIONAL,\n  ...\n}", text)
        self.assertIn("B-E ::= INTEGER (0..2, ...)", text)
        self.assertIn("B-F ::= INTEGER (0..3)", text)

    def test_names_that_clash_once_made_safe_are_refused(self):
        a = module("A ::= SEQUENCE { a-b NULL, a_b NULL }")
        asn1gen.resolve([a])
        with self.assertRaises(asn1gen.SchemaError):
            asn1gen.emit_erlang([a])


if __name__ == "__main__":
    unittest.main()
