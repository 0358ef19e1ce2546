// The configuration reader's checks and messages, byte for byte, and the trace switches.

#include "foundation/ini_reader.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "foundation/trace_ctl.h"
#include "tests/support/board_fixture.h"

namespace {

enum class Address : int { none = 0, ipv4 = 4, name = 7 };

IniFile::Symbol<Address> const kAddressWords[] = {
    {"none", Address::none}, {"ipv4", Address::ipv4}, {"name", Address::name}, {nullptr, Address::none}};

// The file's first block, parsed from text.
class ReaderTest : public ::testing::Test {
protected:
  IniFile::SubSection& block(std::string const& text) {
    std::istringstream in(text);
    in >> file;
    return *file.begin()->begin();
  }
  IniFile::File file;
  std::ostringstream out;
  IniFile::Reader reader{"agent: ", out};
};

TEST_F(ReaderTest, ConvertsEveryDeclaredKeyAndIgnoresUnknownOnes) {
  IniFile::SubSection& b = block("[snmpagent]\nname = north\nenabled=enable\nkind=ipv4\nunknown=1\n");
  std::string name = "before";
  bool enabled = false;
  Address kind = Address::none;
  bool absent = true;
  bool& name_taken = reader.required.add(&name, "name");
  bool& enabled_taken = reader.optional.add(&enabled, "enabled");
  bool& kind_taken = reader.optional.add(&kind, "kind", kAddressWords);
  bool& absent_taken = reader.optional.add(&absent, "absent");
  EXPECT_TRUE(reader(b));
  EXPECT_EQ(out.str(), "");
  EXPECT_EQ(name, "north");
  EXPECT_TRUE(enabled);
  EXPECT_EQ(kind, Address::ipv4);
  EXPECT_TRUE(absent) << "an absent optional key leaves its variable alone";
  EXPECT_TRUE(name_taken && enabled_taken && kind_taken);
  EXPECT_FALSE(absent_taken);
}

TEST_F(ReaderTest, BooleanWordsAreTheReadersOwn) {
  IniFile::SubSection& b = block("[s]\na=enabled\nb=disable\nc=yes\nd=0\ne=on\nf=True\n");
  bool a = false, bb = true, c = false, d = true, e = false, f = false;
  reader.optional.add(&a, "a");
  reader.optional.add(&bb, "b");
  reader.optional.add(&c, "c");
  reader.optional.add(&d, "d");
  bool& e_taken = reader.optional.add(&e, "e");
  reader.optional.add(&f, "f");
  EXPECT_TRUE(reader(b));
  EXPECT_TRUE(a);
  EXPECT_FALSE(bb);
  EXPECT_TRUE(c);
  EXPECT_FALSE(d);
  EXPECT_FALSE(e) << "\"on\" is not one of the reader's words";
  EXPECT_FALSE(e_taken);
  EXPECT_FALSE(f);
  EXPECT_EQ(out.str(),
            "agent: optional key \"e\" has invalid value=\"on\", line 6. Key will be ignored.\n"
            "agent: optional key \"f\" has invalid value=\"True\", line 7. Key will be ignored.\n");
}

TEST_F(ReaderTest, EnumerationsTakeTableWordsThenWholeNumbers) {
  struct Row {
    char const* text;
    bool ok;
    Address result;
  };
  for (Row const row :
       {Row{"name", true, Address::name}, Row{"0x10", true, Address{16}}, Row{"010", true, Address{8}},
        Row{"-3", true, Address{-3}}, Row{"2147483647", true, Address{2147483647}}, Row{"12a", false, Address{99}},
        Row{"", false, Address{99}}, Row{"Name", false, Address{99}}, Row{"2147483648", false, Address{99}},
        Row{"-2147483649", false, Address{99}}, Row{"0x100000000", false, Address{99}}}) {
    Address kind = Address{99};
    IniFile::Private::TKeyValue<Address> entry(&kind, "kind", kAddressWords);
    EXPECT_EQ(entry.parse(row.text), row.ok) << row.text;
    EXPECT_EQ(kind, row.result) << row.text;
  }
  Address kind = Address::none;
  IniFile::Private::TKeyValue<Address> no_table(&kind, "kind", nullptr);
  EXPECT_FALSE(no_table.parse("ipv4"));
  EXPECT_TRUE(no_table.parse("7"));
  EXPECT_EQ(kind, Address::name);
}

TEST_F(ReaderTest, RequiredKeyProblemsEndTheCheck) {
  struct Row {
    char const* text;
    char const* message;
  };
  Row const rows[] = {
      {"\n\n\n\n\n\n\n\n\n\n\n[s]\nother=1\n", "agent: required key \"name\" not present, line 12\n"},
      {"[s]\nname=a\nname=b\n",
       "agent: required key \"name\" is duplicated!\n"
       "agent:  first occurence at 2 line.\n"
       "agent:  second occurence at 3 line.\n"},
      {"[s]\n\n\nname=a\n\nname=b\n\n\nname=c\n",
       "agent: required key \"name\" specified more than once: 4 6 9 lines\n"},
      {"[s]\nname=x\nflag=maybe\n", "agent: required key \"flag\" has invalid value=\"maybe\", line 3\n"},
  };
  for (Row const& row : rows) {
    IniFile::Reader r("agent: ", out);
    out.str("");
    std::string name = "unset";
    bool flag = false;
    bool optional = false;
    r.required.add(&name, "name");
    r.required.add(&flag, "flag");
    bool& optional_taken = r.optional.add(&optional, "optional");
    IniFile::SubSection& b = block(std::string(row.text) + "optional=yes\n");
    EXPECT_FALSE(r(b)) << row.text;
    EXPECT_EQ(out.str(), row.message);
    EXPECT_FALSE(optional) << "optional keys are not read once a required key failed";
    EXPECT_FALSE(optional_taken);
  }
}

TEST_F(ReaderTest, ARequiredKeyConvertedBeforeALaterFailureKeepsItsValue) {
  IniFile::SubSection& b = block("[s]\nname=x\n");
  std::string name;
  bool flag = false;
  reader.required.add(&name, "name");
  reader.required.add(&flag, "flag");
  EXPECT_FALSE(reader(b));
  EXPECT_EQ(name, "x");
  EXPECT_EQ(out.str(), "agent: required key \"flag\" not present, line 1\n");
  // The lookup added the missing key, and a dump shows it.
  EXPECT_EQ(b["flag"].GetCount(), 0);
  std::ostringstream dump;
  b.Dump(dump);
  EXPECT_NE(dump.str().find("mName=\"flag\"\nmSubKeyCount=0\n"), std::string::npos) << dump.str();
}

TEST_F(ReaderTest, RepeatedOptionalKeysAreReportedAndIgnored) {
  IniFile::SubSection& b = block("[s]\nx=yes\nx=no\ny=1\ny=1\n\ny=0\nz=\n");
  bool x = false, y = false;
  std::string z = "was";
  bool& x_taken = reader.optional.add(&x, "x");
  reader.optional.add(&y, "y");
  bool& z_taken = reader.optional.add(&z, "z");
  EXPECT_TRUE(reader(b));
  EXPECT_FALSE(x);
  EXPECT_FALSE(x_taken);
  EXPECT_FALSE(y);
  EXPECT_EQ(z, "") << "an empty text is a valid string";
  EXPECT_TRUE(z_taken);
  EXPECT_EQ(out.str(),
            "agent: optional key \"x\" is duplicated!\n"
            "agent:  first occurence at 2 line.\n"
            "agent:  second occurence at 3 line. Both keys will be ignored.\n"
            "agent: optional key \"y\" specified more than once: 4 5 7 lines. All keys will be ignored.\n");
}

TEST_F(ReaderTest, TheParsedFlagIsClearedForEachCheck) {
  bool v = false;
  bool& taken = reader.optional.add(&v, "v");
  EXPECT_TRUE(reader(block("[s]\nv=yes\n")));
  EXPECT_TRUE(taken);
  EXPECT_TRUE(reader(block("[s]\nw=yes\n")));
  EXPECT_FALSE(taken);
  EXPECT_TRUE(v);
}

// --- trace switches -------------------------------------------------------------------

class TraceCtlTest : public ::testing::Test {
protected:
  IniFile::Section& section(std::string const& text) {
    std::istringstream in(text);
    in >> file;
    return file["traces"];
  }
  IniFile::File file;
  TraceCtl ctl;
};

TEST_F(TraceCtlTest, EachBlockSetsTheSwitchesAfreshButEventsCarriesOver) {
  test::CerrCapture const cerr;
  ctl.Configure(
      section("[traces]\nsignalling.events=yes\nsignalling.hdlc=true\nmonitoring.internal=1\n"
              "signalling.lemzgw=enabled\n[traces]\nunrelated=1\n"));
  EXPECT_FALSE(ctl.signalling.hdlc);
  EXPECT_FALSE(ctl.signalling.lemzgw);
  EXPECT_FALSE(ctl.monitoring.internal);
  EXPECT_TRUE(ctl.signalling.events);
  EXPECT_EQ(cerr.text(), "");
}

TEST_F(TraceCtlTest, OnIsRejectedWithAMessage) {
  test::CerrCapture const cerr;
  ctl.Configure(section("[other]\n[traces]\nsignalling.hdlc=on\n"));
  EXPECT_FALSE(ctl.signalling.hdlc);
  EXPECT_EQ(cerr.text(),
            "traces: optional key \"signalling.hdlc\" has invalid value=\"on\", line 3. Key will be ignored.\n");
}

TEST_F(TraceCtlTest, AMissingSectionChangesNothing) {
  ctl.signalling.events = true;
  ctl.signalling.hdlc = true;
  ctl.Configure(section("[other]\nsignalling.hdlc=no\n"));
  EXPECT_TRUE(ctl.signalling.events);
  EXPECT_TRUE(ctl.signalling.hdlc);
  EXPECT_FALSE(traces.signalling.hdlc) << "the process's switches start off";
}

}  // namespace
