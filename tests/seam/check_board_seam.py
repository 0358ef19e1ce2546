#!/usr/bin/env python3
"""Production code reaches the board's devices only through Board::io().

Scans the production C++ sources under a source root and fails (exit 1), listing
file:line, on a direct ioctl call or a string literal naming a "/dev/" path anywhere
outside the seam itself (foundation/board_io.h and .cpp). Comments, string contents and
#include lines are not code, so they neither hide nor raise a finding.

Usage: check_board_seam.py <source root>
"""

import os
import re
import sys

SEAM = {"foundation/board_io.h", "foundation/board_io.cpp"}
SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc")
# Top-level folders that are not production code; build*/ and hidden folders neither.
NOT_PRODUCTION = {"tests", "bench", "boardsim", "tools", "cmake"}

# Requests on what is not a board device: an ioctl call naming one of these is allowed.
ALLOWED_REQUESTS = {
    "TIOCOUTQ": "bytes still unsent on a socket or terminal",
    "FIONREAD": "bytes waiting to be read on a socket or pipe",
    "FIONBIO": "non-blocking mode of a socket",
    "SIOCGIFCONF": "lists the host's network interfaces",
    "SIOCGIFADDR": "address of a network interface",
    "SIOCGIFFLAGS": "flags of a network interface",
}

# "/dev/" paths that are not board devices.
ALLOWED_PATHS = {
    "/dev/log": "the system log socket",
    "/dev/console": "the console, written when the log is out of reach",
    "/dev/null": "discards a child's standard streams",
}

STRING_PREFIXES = {"L", "u", "U", "u8", "R", "LR", "uR", "UR", "u8R"}
IDENTIFIER = re.compile(r"[A-Za-z_]\w*")
# A preprocessing number, digit separators included, so 1'000 opens no character literal.
PP_NUMBER = re.compile(r"\.?\d(?:[eEpP][+-]|'[0-9A-Za-z_]|[0-9A-Za-z_.])*")
INCLUDE = re.compile(r"#[ \t]*include\b[^\n]*")
RAW_OPENING = re.compile(r'"([^()\\\s"]{0,16})\(')
IOCTL = re.compile(r"\bioctl\b|\bSYS_ioctl\b|\b__NR_ioctl\b")
DEV_PATH = re.compile(r"/dev/[\w./+-]*")


class Source:
    """One file split into code and string literals.

    `code` has the text's length and line breaks with every comment, literal and
    #include line blanked; `literals` holds (offset, body, end) of each string literal,
    adjacent literals joined as the compiler joins them.
    """

    def __init__(self, text):
        self.text = text
        self.literals = []
        self._code = list(text)
        self._scan()
        self.code = "".join(self._code)

    def line_of(self, offset):
        return self.text.count("\n", 0, offset) + 1

    def _blank(self, start, end):
        for i in range(start, end):
            if self._code[i] != "\n":
                self._code[i] = " "

    def _scan(self):
        text, i, n = self.text, 0, len(self.text)
        line_start = True
        while i < n:
            c = text[i]
            if c == "/" and text.startswith("//", i):
                end = text.find("\n", i)
                end = n if end < 0 else end
            elif c == "/" and text.startswith("/*", i):
                end = text.find("*/", i + 2)
                end = n if end < 0 else end + 2
            elif c == "#" and line_start and INCLUDE.match(text, i):
                end = INCLUDE.match(text, i).end()
            elif c == '"':
                end = self._string(i, i, raw=False)
            elif c == "'":
                end = self._quoted(i, "'")
            elif c.isdigit() or (c == "." and text[i + 1 : i + 2].isdigit()):
                i = PP_NUMBER.match(text, i).end()
                line_start = False
                continue
            elif c.isalpha() or c == "_":
                word = IDENTIFIER.match(text, i)
                after = word.end()
                if word.group() in STRING_PREFIXES and text[after : after + 1] == '"':
                    end = self._string(i, after, raw=word.group().endswith("R"))
                elif word.group() in {"L", "u", "U", "u8"} and text[after : after + 1] == "'":
                    end = self._quoted(after, "'")
                else:
                    i = after
                    line_start = False
                    continue
            else:
                if c == "\n":
                    line_start = True
                elif not c.isspace():
                    line_start = False
                i += 1
                continue
            self._blank(i, end)
            i = end

    def _quoted(self, start, quote):
        """End of a literal opened at start, escapes honoured; stops at a line break."""
        i, n = start + 1, len(self.text)
        while i < n and self.text[i] not in (quote, "\n"):
            i += 2 if self.text[i] == "\\" else 1
        return min(i + 1, n) if i < n and self.text[i] == quote else i

    def _string(self, start, quote, raw):
        """End of the string literal at start, whose opening quote is at quote."""
        opening = RAW_OPENING.match(self.text, quote) if raw else None
        if opening:
            closing = ")" + opening.group(1) + '"'
            body_end = self.text.find(closing, opening.end())
            body_end = len(self.text) if body_end < 0 else body_end
            body, end = self.text[opening.end() : body_end], min(body_end + len(closing), len(self.text))
        else:
            end = self._quoted(quote, '"')
            body = self.text[quote + 1 : end - 1 if self.text[end - 1 : end] == '"' else end]
        # Comments between two literals are already blanked: only white space may remain.
        if self.literals and not "".join(self._code[self.literals[-1][2] : start]).strip():
            first, joined, _ = self.literals.pop()
            start, body = first, joined + body
        self.literals.append((start, body, end))
        return end


def call_arguments(code, offset):
    """Text between the parentheses of a call whose name ends at offset, or None."""
    i = offset
    while i < len(code) and code[i].isspace():
        i += 1
    if i >= len(code) or code[i] != "(":
        return None
    depth = 0
    for j in range(i, len(code)):
        if code[j] == "(":
            depth += 1
        elif code[j] == ")":
            depth -= 1
            if depth == 0:
                return code[i + 1 : j]
    return code[i + 1 :]


def findings(text):
    """(line, message) for every way this source text bypasses the seam."""
    source = Source(text)
    found = []
    for match in IOCTL.finditer(source.code):
        before = source.code[: match.start()].rstrip()
        # obj.ioctl( and obj->ioctl( are calls on an object, as Board::io().ioctl( is.
        if match.group() == "ioctl" and (before.endswith(".") or before.endswith("->")):
            continue
        arguments = call_arguments(source.code, match.end())
        if arguments is not None and any(re.search(rf"\b{name}\b", arguments) for name in ALLOWED_REQUESTS):
            continue
        found.append((source.line_of(match.start()), f"direct {match.group()} outside Board::io()"))
    for start, body, _ in source.literals:
        if any(path not in ALLOWED_PATHS for path in DEV_PATH.findall(body)):
            found.append((source.line_of(start), f'device path "{body}" outside Board::io()'))
    return sorted(found)


def production_sources(root):
    for folder, subfolders, files in os.walk(root):
        relative = os.path.relpath(folder, root)
        top = relative == "."
        subfolders[:] = sorted(
            d
            for d in subfolders
            if not d.startswith(".") and not (top and (d in NOT_PRODUCTION or d.startswith("build")))
        )
        for name in sorted(files):
            path = name if top else os.path.join(relative, name).replace(os.sep, "/")
            if name.endswith(SOURCE_SUFFIXES) and path not in SEAM:
                yield path


def main(argv):
    if len(argv) != 2 or not os.path.isdir(argv[1]):
        print("usage: check_board_seam.py <source root>", file=sys.stderr)
        return 2
    root = argv[1]
    checked = 0
    failures = []
    for path in production_sources(root):
        checked += 1
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            failures += [f"{path}:{line}: {message}" for line, message in findings(f.read())]
    if checked == 0:
        print(f"check_board_seam: no production sources under {root}", file=sys.stderr)
        return 2
    for failure in failures:
        print(failure)
    if failures:
        print(f"check_board_seam: {len(failures)} finding(s); reach board devices through Board::io()",
              file=sys.stderr)
        return 1
    print(f"check_board_seam: {checked} files clean")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
