// The configuration file: tricky texts against the trees they parse to, the dump, the
// lookups that add elements, and the typed accessors.

#include "foundation/ini_file.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

#include "tests/support/test_files.h"

namespace {

// One line per block and per occurrence: "[name]@line" then "  key=<value>@line".
std::string tree(IniFile::File const& file) {
  std::ostringstream os;
  for (IniFile::Section const& section : file) {
    for (IniFile::SubSection const& block : section) {
      os << '[' << section.GetName() << "]@" << block.GetLineNo() << '\n';
      for (IniFile::Key& key : block)
        for (IniFile::SubKey& subkey : key)
          os << "  " << key.GetName() << "=<" << subkey.GetStr() << ">@" << subkey.GetLineNo() << '\n';
    }
  }
  return os.str();
}

std::string parsed(std::string const& text) {
  IniFile::File file;
  std::istringstream in(text);
  in >> file;
  EXPECT_TRUE(file.IsOpened());
  return tree(file);
}

struct Case {
  char const* what;
  std::string text;
  char const* tree;
};

class IniParse : public ::testing::TestWithParam<Case> {};

TEST_P(IniParse, GivesTheExpectedTree) { EXPECT_EQ(parsed(GetParam().text), GetParam().tree) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    TrickyFiles, IniParse,
    ::testing::Values(
        Case{"empty file", "", ""},
        Case{"keys before the first header are ignored", "a=1\n[s]\nb=2\n", "[s]@2\n  b=<2>@3\n"},
        Case{"last line without its line feed", "[s]\nk=v", "[s]@1\n  k=<v>@2\n"},
        Case{"last line ends right after =", "[s]\nk=", "[s]@1\n  k=<>@2\n"},
        Case{"last line ends after = and spaces", "[s]\nk=  ", "[s]@1\n  k=<>@2\n"},
        Case{"value, two spaces, a comment", "[s]\nk=value  # note\n", "[s]@1\n  k=<value>@2\n"},
        Case{"# right after a character is part of the value", "[s]\nk=val#ue # x\n", "[s]@1\n  k=<val#ue>@2\n"},
        Case{"= space # gives an empty value", "[s]\nk= #x\nj=1\n", "[s]@1\n  k=<>@2\n  j=<1>@3\n"},
        Case{"a tab after = starts the value", "[s]\nk=\tv\n", "[s]@1\n  k=<\tv>@2\n"},
        Case{"inner spaces of values are kept, trailing ones never", "[s]\nk = a  b   \nj=c  \n",
             "[s]@1\n  k=<a  b>@2\n  j=<c>@3\n"},
        Case{"key name with an inner space, spaces around", "[s]\n  my  key   = v\n", "[s]@1\n  my  key=<v>@2\n"},
        Case{"a tab inside a key name is a character", "[s]\n\tk\tx=v\n", "[s]@1\n  k\tx=<v>@2\n"},
        Case{"# inside a key name is a character", "[s]\nke#y=v\n", "[s]@1\n  ke#y=<v>@2\n"},
        Case{"a line without = is dropped, the next parsed afresh", "[s]\nnoequals here\n[t]\nk=v\n",
             "[s]@1\n[t]@3\n  k=<v>@4\n"},
        Case{"a comment after a dropped line still works", "[s]\nnoequals\n# k=v\nj=w\n", "[s]@1\n  j=<w>@4\n"},
        Case{"spaces inside brackets belong to the name", "[ s ]\nk=1\n[s]\nk=2\n",
             "[ s ]@1\n  k=<1>@2\n[s]@3\n  k=<2>@4\n"},
        Case{"a repeated header opens a further block", "[traces]\na=1\n\n[other]\n[traces]\na=2\n",
             "[traces]@1\n  a=<1>@2\n[traces]@5\n  a=<2>@6\n[other]@4\n"},
        Case{"a repeated key adds an occurrence", "[s]\nk=1\nj=x\nk=2\n", "[s]@1\n  k=<1>@2\n  k=<2>@4\n  j=<x>@3\n"},
        Case{"CR LF line ends", "[s]\r\nk=v\r\n\r\nj = w \r\n", "[s]@1\n  k=<v>@2\n  j=<w>@4\n"},
        Case{"CR dropped inside a value and a comment", "[s]\nk=a\rb # c\rd\nj=1\n", "[s]@1\n  k=<ab>@2\n  j=<1>@3\n"},
        Case{"an unclosed header loses the keys under it", "[s]\nk=v\n[broken\nx=1\ny=2\n[t]\nz=3\n",
             "[s]@1\n  k=<v>@2\n[t]@6\n  z=<3>@7\n"},
        Case{"an unclosed header at the end", "[s]\nk=v\n[half", "[s]@1\n  k=<v>@2\n"},
        Case{"a key name without = at the end", "[s]\nk=v\nhalf", "[s]@1\n  k=<v>@2\n"},
        Case{"before any header a [ anywhere opens one", "junk [s] more\nk=v\n", "[s]@1\n  k=<v>@2\n"},
        Case{"text after ] is ignored up to the line end", "[s] k=v # x\nj=w\n", "[s]@1\n  j=<w>@2\n"},
        Case{"a header name keeps #, = and [", "[a#b=[c]\nk=v\n", "[a#b=[c]@1\n  k=<v>@2\n"},
        Case{"an empty header name", "[]\nk=v\n", "[]@1\n  k=<v>@2\n"},
        Case{"a line starting with = names a key starting with =", "[s]\n=x=y\n", "[s]@1\n  =x=<y>@2\n"},
        Case{"a header after indentation", "[s]\n   \t[t]\nk=v\n", "[s]@1\n[t]@2\n  k=<v>@3\n"},
        Case{"quotes are characters", "[s]\nk=\"a # b\"\n", "[s]@1\n  k=<\"a>@2\n"},
        Case{"a value keeps = signs", "[s]\nk=a=b==c\n", "[s]@1\n  k=<a=b==c>@2\n"}),
    [](::testing::TestParamInfo<Case> const& info) { return "case" + std::to_string(info.index); });

TEST(IniParse, NulByteIsAnOrdinaryCharacter) {
  EXPECT_EQ(parsed(std::string("[s]\nk=a\0b\n", 10)), std::string("[s]@1\n  k=<a\0b>@2\n", 18));
}

std::string golden(char const* name) { return test::golden_file(__FILE__, name); }

// A temporary file that goes away with the test.
struct TempFile {
  explicit TempFile(std::string const& text) {
    char name[] = "/tmp/ini_file_test.XXXXXX";
    int const fd = ::mkstemp(name);
    EXPECT_GE(fd, 0);
    ::close(fd);
    path = name;
    std::ofstream(path, std::ios::binary) << text;
  }
  ~TempFile() { std::filesystem::remove(path); }
  std::string path;
};

TEST(IniFile, OpenParsesTheFileAndDumpMatchesGolden) {
  TempFile const conf(
      "# gateway\n"
      "[traces]\n"
      "signalling.hdlc = yes   # on for now\n"
      "signalling.events=1\n"
      "[snmpagent]\n"
      "address=127.0.0.1:161\n"
      "[snmpagent]\n"
      "address = 127.0.0.2:161\n"
      "address = 127.0.0.3:161\n");
  IniFile::File file(conf.path);
  ASSERT_TRUE(file.IsOpened());
  // Looking up what is not there adds it: the dump shows the section and the key.
  file["absent"];
  IniFile::SubSection& first_agent = *file["snmpagent"].begin();
  IniFile::SubKey* const community = first_agent["community"].GetFirstSubKey();
  EXPECT_EQ(community->GetStr(), "");
  EXPECT_EQ(community->GetLineNo(), -1);
  EXPECT_EQ(first_agent["community"].GetCount(), 1);

  std::ostringstream os;
  file.Dump(os);
  std::string expected = golden("ini_file_dump.txt");
  std::string const marker = "@PATH@";
  expected.replace(expected.find(marker), marker.size(), conf.path);
  EXPECT_EQ(os.str(), expected);
}

TEST(IniFile, OpenOfAMissingFileFailsAndLeavesTheTreeEmpty) {
  IniFile::File file;
  std::istringstream in("[s]\nk=v\n");
  in >> file;
  ASSERT_EQ(tree(file), "[s]@1\n  k=<v>@2\n");
  EXPECT_FALSE(file.Open("/nonexistent/server.conf"));
  EXPECT_FALSE(file.IsOpened());
  EXPECT_EQ(tree(file), "");
  // A missing section is an empty one, added by the lookup.
  IniFile::Section& traces = file["traces"];
  EXPECT_EQ(traces.GetCount(), 0);
  traces.CheckEmpty();
  ASSERT_EQ(traces.GetCount(), 1);
  EXPECT_EQ(traces.begin()->GetLineNo(), -1);
}

TEST(IniFile, AnEmptyFileOpens) {
  TempFile const conf("");
  IniFile::File file;
  EXPECT_TRUE(file.Open(conf.path));
  EXPECT_EQ(tree(file), "");
  file.Close();
  EXPECT_FALSE(file.IsOpened());
}

TEST(IniFile, StreamInputReplacesTheTreeAndForgetsTheName) {
  TempFile const conf("[a]\nk=1\n");
  IniFile::File file(conf.path);
  std::istringstream in("[b]\nj=2\n");
  in >> file;
  EXPECT_EQ(tree(file), "[b]@1\n  j=<2>@2\n");
  std::ostringstream os;
  file.Dump(os);
  EXPECT_EQ(os.str().substr(0, os.str().find("\n\n")), "dumping IniFile::File\nmFileName=\"\"");
}

TEST(IniFile, KeysKeepEveryOccurrenceInOrder) {
  IniFile::File file;
  std::istringstream in("[s]\nk=1\nk=2\nk=3\n");
  in >> file;
  IniFile::Key& key = (*file["s"].begin())["k"];
  EXPECT_EQ(key.GetCount(), 3);
  EXPECT_EQ(key.GetFirstSubKey()->GetLineNo(), 2);
  EXPECT_EQ(key.GetLastSubKey()->GetStr(), "3");
  EXPECT_EQ(key.GetStr(), "1");
  IniFile::Key::iterator it = key.begin();
  EXPECT_EQ((it++)->GetStr(), "1");
  EXPECT_EQ(it->GetStr(), "2");
  ++it;
  ++it;
  EXPECT_FALSE(it != key.end());
  ++it;  // the end stays the end
  EXPECT_FALSE(it != key.end());
}

IniFile::SubKey value(std::string const& text) { return IniFile::SubKey(text, 1); }

TEST(IniSubKey, GetBoolKnowsExactWordsOnly) {
  for (char const* yes : {"true", "yes", "1", "on"}) EXPECT_TRUE(value(yes).GetBool(false)) << yes;
  for (char const* no : {"false", "no", "0", "off"}) EXPECT_FALSE(value(no).GetBool(true)) << no;
  for (char const* unknown : {"Yes", "TRUE", "enabled", " yes", ""}) {
    EXPECT_TRUE(value(unknown).GetBool(true)) << unknown;
    EXPECT_FALSE(value(unknown).GetBool(false)) << unknown;
  }
}

TEST(IniSubKey, GetIntReadsALeadingNumberWithinInt) {
  EXPECT_EQ(value("42").GetInt(-1), 42);
  EXPECT_EQ(value("  -17 apples").GetInt(-1), -17);
  EXPECT_EQ(value("+8").GetInt(-1), 8);
  EXPECT_EQ(value("0x10").GetInt(-1), 0) << "decimal only: the number is the 0";
  EXPECT_EQ(value("-2147483648").GetInt(-1), INT_MIN);
  EXPECT_EQ(value("2147483647").GetInt(-1), INT_MAX);
  for (char const* bad : {"", "abc", "-", "2147483648", "-2147483649", "99999999999999999999999"})
    EXPECT_EQ(value(bad).GetInt(-7), -7) << bad;
}

TEST(IniSubKey, GetFloatGivesTheDefaultOutsideFloat) {
  EXPECT_FLOAT_EQ(value("3.5x").GetFloat(-1), 3.5f);
  EXPECT_FLOAT_EQ(value(" -0.25").GetFloat(-1), -0.25f);
  EXPECT_FLOAT_EQ(value("1e38").GetFloat(-1), 1e38f);
  for (char const* bad : {"", "x1", "1e39", "-1e39", "1e99999"}) EXPECT_FLOAT_EQ(value(bad).GetFloat(-7), -7.0f) << bad;
}

TEST(IniSubKey, SettersWriteTheirText) {
  IniFile::SubKey k("", 3);
  k.SetBool(true);
  EXPECT_EQ(k.GetStr(), "yes");
  k.SetBool(false);
  EXPECT_EQ(k.GetStr(), "no");
  k.SetInt(-123);
  EXPECT_EQ(k.GetStr(), "-123");
  k.SetFloat(3.14159265f);
  EXPECT_EQ(k.GetStr(), "3.14159");
  k.SetFloat(1e10f);
  EXPECT_EQ(k.GetStr(), "1e+10");
  EXPECT_EQ(k.GetLineNo(), 3);
}

}  // namespace
