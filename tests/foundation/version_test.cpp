#include "foundation/version.h"

#include <gtest/gtest.h>
#include <regex>
#include <sstream>
#include <string>

namespace {

TEST(Version, TypeTextsAndSuffixes) {
  struct Row {
    int type;
    char const* text;
    char const* suffix;
  };
  for (Row const& r : {Row{0, "snapshot", "S"}, Row{1, "test", "T"}, Row{2, "release", "R"},
                       Row{3, "unit-test", "T"}, Row{7, "unknown", "U"}, Row{-1, "unknown", "U"}}) {
    SCOPED_TRACE(r.type);
    auto const type = static_cast<Version::Type>(r.type);
    EXPECT_STREQ(version_string(type), r.text);
    EXPECT_STREQ(version_suffix(type), r.suffix);
    std::ostringstream os;
    os << type;
    EXPECT_EQ(os.str(), r.text);
  }
}

TEST(Version, PrintsOnlyTheTag) {
  Version const v(Version::release, 12, "", "builder", "2023-03-17 18:18", "T230317-1818", "ppc");
  std::ostringstream os;
  os << v;
  EXPECT_EQ(os.str(), "T230317-1818");
}

TEST(Version, CurrentIsThisBuildsSnapshotStamp) {
  Version const& v = Version::current;
  EXPECT_EQ(v.type(), Version::snapshot);
  EXPECT_EQ(v.number(), 0);
  EXPECT_STREQ(v.text(), "");
  EXPECT_STRNE(v.user(), "");
  EXPECT_STREQ(v.arch(), "ppc");

  // "2023-03-17 18:18" is stamped "T230317-1818".
  std::regex const stamp(R"(\d\d(\d\d)-(\d\d)-(\d\d) (\d\d):(\d\d))");
  std::string const date = v.date();
  ASSERT_TRUE(std::regex_match(date, stamp)) << date;
  EXPECT_EQ(v.tag(), std::regex_replace(date, stamp, "T$1$2$3-$4$5"));
}

}  // namespace
