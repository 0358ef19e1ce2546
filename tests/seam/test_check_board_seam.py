#!/usr/bin/env python3
"""Self-test of check_board_seam.py: snippets that must pass, snippets that must fail,
and the folders it must and must not scan."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import textwrap
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "check_board_seam.py")
spec = importlib.util.spec_from_file_location("check_board_seam", SCRIPT)
seam = importlib.util.module_from_spec(spec)
spec.loader.exec_module(seam)


def lines_found(snippet):
    return [line for line, _ in seam.findings(textwrap.dedent(snippet))]


class Snippets(unittest.TestCase):
    def test_passes(self):
        clean = {
            "the seam": "Board::io().ioctl(fd, kRequest, &record);",
            "the seam across lines": "Board::io()\n    .ioctl(fd, kRequest, &record);",
            "the seam through a pointer": "io->ioctl(fd, kRequest, &record);",
            "the seam by value": "Board::io().ioctl_value(fd, kRequest, 1);",
            "line comment": "// ioctl(fd, kRequest) on \"/dev/hal\"",
            "block comment": "/* ::ioctl(fd, kRequest)\n   \"/dev/hal\" */ int x;",
            "string literal": 'log("ioctl(%d) failed", fd);',
            "allowed request": "::ioctl(sock, FIONREAD, &queued);",
            "allowed request across lines": "if (ioctl(sock,\n          SIOCGIFCONF, &conf) < 0) {}",
            "allowed paths": 'char const* p[] = {"/dev/log", "/dev/console", "/dev/null"};',
            "allowed path in a command": 'run("exec >/dev/null 2>&1");',
            "include": "#include <sys/ioctl.h>\n  #  include \"dev/ioctl.h\"",
            "other names": "int ioctl_count = my_ioctl + ioctls;",
            "escaped quote": 'f("a \\" ioctl(fd, X)");',
        }
        for what, snippet in clean.items():
            with self.subTest(what):
                self.assertEqual(seam.findings(snippet), [])

    def test_fails(self):
        dirty = {
            "plain call": "ioctl(fd, kRequest, &record);",
            "global call": "::ioctl(fd, kRequest, &record);",
            "space before parenthesis": "ioctl (fd, kRequest, &record);",
            "parenthesised name": "(ioctl)(fd, kRequest, &record);",
            "address taken": "auto f = &::ioctl;",
            "raw system call": "syscall(SYS_ioctl, fd, kRequest, &record);",
            "allowed name outside the call": "ioctl(fd, kRequest, &r); // FIONREAD",
            "device path": 'open("/dev/hal", O_RDWR);',
            "prefixed literal": 'auto p = u8"/dev/dsp";',
            "raw literal": 'auto p = R"x(")/dev/rtp)x";',
            "joined literals": 'auto p = "/dev" /* mcc */ "/hal";',
            "near an allowed path": 'auto p = "/dev/nullx";',
            "bare folder": 'auto p = "/dev/";',
            # The lexer must not take these for the start of a literal that hides the call.
            "after a quote character": "char q = '\"'; ioctl(fd, kRequest, &r);",
            "after a digit separator": "int n = 1'000; ioctl(fd, kRequest, &r); char c = 'x';",
            "after an escaped backslash": 'f("\\\\"); ioctl(fd, kRequest, &r);',
        }
        for what, snippet in dirty.items():
            with self.subTest(what):
                self.assertEqual(len(seam.findings(snippet)), 1, seam.findings(snippet))

    def test_reports_the_line_of_each_finding(self):
        snippet = """\
            // ioctl(fd, X) in a comment
            int a = 1;
            int b = ::ioctl(fd, kRequest,
                            &record);
            /* "/dev/hal"
             */ char const* p = "/dev/mcc/ctl";
            auto s = R"(
            ioctl(
            )";
            ioctl(fd, kOther, 0);
            """
        self.assertEqual(lines_found(snippet), [3, 6, 10])


class Tree(unittest.TestCase):
    BAD = "void f(int fd) { ioctl(fd, 1, 0); }\n"

    def make_tree(self, files):
        root = tempfile.mkdtemp(prefix="seam-")
        self.addCleanup(subprocess.run, ["rm", "-rf", root], check=True)
        for path, text in files.items():
            os.makedirs(os.path.join(root, os.path.dirname(path)), exist_ok=True)
            with open(os.path.join(root, path), "w") as f:
                f.write(text)
        return root

    def run_check(self, root):
        return subprocess.run([sys.executable, SCRIPT, root], capture_output=True, text=True)

    def test_scans_production_sources_only(self):
        root = self.make_tree(
            {
                "server/control.cpp": "int x;\n" + self.BAD,
                "slots/nested/slot.hpp": self.BAD,
                "radio/link.cc": self.BAD,
                "hardware/hal.h": 'char const* p = "/dev/hal";\n',
                "hardware/notes.txt": self.BAD,
                "foundation/board_io.cpp": self.BAD,
                "foundation/board_io.h": self.BAD,
                "tests/x/t.cpp": self.BAD,
                "bench/b.cpp": self.BAD,
                "boardsim/sim.cpp": self.BAD,
                "tools/t.cpp": self.BAD,
                "cmake/c.cpp": self.BAD,
                "build/h/gen.cpp": self.BAD,
                "build-clang/gen.cpp": self.BAD,
                ".git/x.cpp": self.BAD,
                "server/.cache/x.cpp": self.BAD,
            }
        )
        result = self.run_check(root)
        self.assertEqual(result.returncode, 1, result.stdout + result.stderr)
        self.assertEqual(
            sorted(line.split(": ")[0] for line in result.stdout.splitlines()),
            ["hardware/hal.h:1", "radio/link.cc:1", "server/control.cpp:2", "slots/nested/slot.hpp:1"],
        )

    def test_clean_tree_passes(self):
        result = self.run_check(self.make_tree({"server/a.cpp": "int main() { return 0; }\n"}))
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)

    def test_a_wrong_root_is_an_error_not_a_pass(self):
        self.assertEqual(self.run_check("/nonexistent/root").returncode, 2)
        self.assertEqual(self.run_check(self.make_tree({"tests/a.cpp": self.BAD})).returncode, 2)


if __name__ == "__main__":
    unittest.main()
