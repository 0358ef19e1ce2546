// Statistics pages from templates: the directive rules one by one, then a whole page with
// nested sections and lists against its golden text, checked by xmllint's HTML parser.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "protocol/stat_html.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"

namespace {

// A statistics object made of plain maps.
struct Node : Stat::Object {
  std::map<std::string, std::string> values;
  std::map<std::string, Node const*> objects;
  std::map<std::string, std::vector<Node const*>> lists;

  struct Iterator : Stat::IteratorBase {
    explicit Iterator(std::vector<Node const*> const& l) : list(l) {}
    void first() override { at = 0; }
    bool valid() const override { return at < list.size(); }
    bool next() override { return ++at < list.size(); }
    Stat::Object const* object() const override { return list[at]; }
    std::vector<Node const*> const& list;
    std::size_t at = 0;
  };

  Stat::Value statistics_value(std::string const& name) const override {
    auto const at = values.find(name);
    return at == values.end() ? Stat::Value() : Stat::Value(at->second);
  }
  Stat::Object const* statistics_object(std::string const& name) const override {
    auto const at = objects.find(name);
    return at == objects.end() ? nullptr : at->second;
  }
  std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& name) const override {
    auto const at = lists.find(name);
    return at == lists.end() ? nullptr : std::make_unique<Iterator>(at->second);
  }
};

std::string render(Stat::Object const& root, std::string const& tmpl) {
  std::istringstream in(tmpl);
  std::ostringstream out;
  EXPECT_TRUE(Stat::Html::generateV1(root, out, in));
  return out.str();
}

std::string golden(std::string const& name) { return test::golden_file(__FILE__, name); }

TEST(StatHtml, PlainHtmlIsCopiedUnchanged) {
  Node root;
  std::string const page =
      "<!DOCTYPE html>\n<!-- a comment -->\n<!-not quite-->\n<table width=\"50%\"><tr><td>x</td></tr></table>\n"
      "<!--GEX.name-->\n<p>a > b</p>\n";
  EXPECT_EQ(render(root, page), page);
}

TEST(StatHtml, ValuesAreReplacedOrLeftAsWritten) {
  Node root;
  root.values = {{"load", "42"}, {"", "empty name"}};
  EXPECT_EQ(render(root, "<p>load %load%, %unknown%, 5%%, %%load%%</p>"), "<p>load 42, %unknown%, 5%%, %%load%%</p>");
  // A lone percent sign takes the text up to the next one as a name, or the rest of the
  // template when none follows.
  EXPECT_EQ(render(root, "<p>50% off, 20% more</p>"), "<p>50% off, 20% more</p>");
  EXPECT_EQ(render(root, "<p>100% sure</p>\n</html>\n"), "<p>100");
  EXPECT_EQ(render(root, "a%%b"), "a%%b");
}

TEST(StatHtml, SectionsBindNamedObjectsAndValuesAreFoundOutward) {
  Node root, port, counters;
  root.values = {{"host", "gw"}, {"name", "root"}};
  port.values = {{"name", "e1-0"}};
  counters.values = {{"rx", "7"}};
  root.objects = {{"port", &port}};
  port.objects = {{"counters", &counters}};
  EXPECT_EQ(render(root,
                   "[%name%]<!--GEN.port-->(%name%@%host%<!--GEN.counters-->{%rx% %name%}<!--GEN.end-->)"
                   "<!--GEN.end-->[%name%]"),
            "[root](e1-0@gw{7 e1-0})[root]");
}

TEST(StatHtml, UnknownSectionsDisappearWithEverythingInside) {
  Node root, inner;
  root.values = {{"v", "x"}};
  inner.values = {{"w", "y"}};
  root.objects = {{"inner", &inner}};
  EXPECT_EQ(render(root, "a<!--GEN.gone--><b>%v%</b><!--GEN.inner-->%w%<!--GEN.end--><!--GEN.end-->b"), "ab");
}

TEST(StatHtml, ListsRepeatTheirSectionPerElement) {
  Node root, a, b, c;
  a.values = {{"id", "1"}};
  b.values = {{"id", "2"}};
  c.values = {{"id", "3"}};
  root.lists = {{"rows", {&a, &b, &c}}, {"none", {}}};
  EXPECT_EQ(render(root, "<ul><!--GEN.rows--><li>%id%</li><!--GEN.end--></ul>"),
            "<ul><li>1</li><li>2</li><li>3</li></ul>");
  EXPECT_EQ(render(root, "<ul><!--GEN.none--><li>%id%</li><!--GEN.end--></ul>"), "<ul></ul>");
}

TEST(StatHtml, NamesMayHoldASingleDashAndTheDirectiveRunsToItsBracket) {
  Node root, port;
  port.values = {{"x", "1"}};
  root.objects = {{"per-port", &port}};
  EXPECT_EQ(render(root, "<!--GEN.per-port-- any words here>%x%<!--GEN.end-- >."), "1.");
}

TEST(StatHtml, EndAtTheOutermostLevelEndsThePage) {
  Node root;
  EXPECT_EQ(render(root, "kept<!--GEN.end-->dropped %x% <!--GEN.other-->"), "kept");
}

TEST(StatHtml, DirectiveCutOffByTheEndOfTheTemplateIsLost) {
  Node root;
  EXPECT_EQ(render(root, "text<!--GEN.sec"), "text");
  EXPECT_EQ(render(root, "text<!-"), "text");
  EXPECT_EQ(render(root, "text<"), "text");
}

TEST(StatHtml, ListWhoseSectionRunsToTheEndWritesOnlyItsFirstElement) {
  Node root, a, b;
  a.values = {{"id", "1"}};
  b.values = {{"id", "2"}};
  root.lists = {{"rows", {&a, &b}}};
  EXPECT_EQ(render(root, "<!--GEN.rows-->[%id%]"), "[1]");
}

struct Page {
  Node root, pool, t0, t1, t2, s3, s4, s64, alarm;
  Page() {
    root.values = {{"host", "gw-7"}, {"uptime", "3600"}};
    pool.values = {{"free", "1000"}};
    t0.values = {{"number", "0"}, {"state", "up"}};
    t1.values = {{"number", "1"}, {"state", "down"}};
    t2.values = {{"number", "2"}, {"state", "up"}};
    s3.values = {{"id", "3"}, {"codec", "G.711"}};
    s4.values = {{"id", "4"}, {"codec", "G.729"}};
    s64.values = {{"id", "64"}, {"codec", "G.711"}};
    alarm.values = {{"text", "loss of signal"}};
    root.objects = {{"pool", &pool}};
    root.lists = {{"trunks", {&t0, &t1, &t2}}, {"agents", {}}};
    t0.lists = {{"slots", {&s3, &s4}}};
    t1.lists = {{"slots", {}}};
    t1.objects = {{"alarm", &alarm}};
    t2.lists = {{"slots", {&s64}}};
  }
};

TEST(StatHtml, WholePageMatchesItsGoldenTextAndParsesAsHtml) {
  ASSERT_NO_FATAL_FAILURE(test::require_tool("xmllint", "libxml2-utils"));
  Page page;
  std::string const out = render(page.root, golden("stat_page.tmpl.html"));
  EXPECT_EQ(out, golden("stat_page.html"));

  test::TempDir dir("stat-html");
  std::ofstream(dir / "page.html", std::ios::binary) << out;
  test::ChildProcess xmllint({"xmllint", "--html", "--noout", dir / "page.html"}, dir / "out", dir / "err");
  int status = 0;
  ASSERT_TRUE(xmllint.wait(10000, &status));
  EXPECT_EQ(test::describe_status(status), "exit status 0");
  EXPECT_EQ(test::read_file(dir / "err"), "") << "xmllint complains about the page";

  // The check itself: a page with a tag left open does not pass.
  std::ofstream(dir / "bad.html", std::ios::binary) << "<html><body><p>x</b></body></html>\n";
  test::ChildProcess bad({"xmllint", "--html", "--noout", dir / "bad.html"}, dir / "out", dir / "err");
  ASSERT_TRUE(bad.wait(10000, &status));
  EXPECT_NE(test::read_file(dir / "err"), "");
}

}  // namespace
