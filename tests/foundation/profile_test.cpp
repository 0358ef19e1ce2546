#include "foundation/profile.h"

#include <gtest/gtest.h>
#include <optional>
#include <sstream>

#include "foundation/trace_block.h"
#include "tests/support/fake_clock.h"

namespace {

std::string text_of(Profile::Point const& p) {
  std::ostringstream os;
  os << p;
  return os.str();
}

void measure(test::FakeClock& clock, Profile::Point& p, unsigned us) {
  p.begin();
  clock.advance_us(us);
  p.end();
}

TEST(ProfilePoint, KeepsMinMaxLastAndCount) {
  test::FakeClock clock;
  Profile::Point p("send");
  measure(clock, p, 250);
  EXPECT_EQ(text_of(p), "[send]: min=250 max=250 avg=250 counter=1");
  measure(clock, p, 100);
  EXPECT_EQ(text_of(p), "[send]: min=100 max=250 avg=100 counter=2");
  measure(clock, p, 400);
  measure(clock, p, 150);
  EXPECT_EQ(text_of(p), "[send]: min=100 max=400 avg=150 counter=4");
}

TEST(ProfilePoint, FirstMeasurementSetsTheMinimumEvenIfLarge) {
  test::FakeClock clock;
  Profile::Point p("big");
  measure(clock, p, 4000000000u);
  measure(clock, p, 4100000000u);
  EXPECT_EQ(text_of(p), "[big]: min=4000000000 max=4100000000 avg=4100000000 counter=2");
}

TEST(ProfilePoint, ElapsedTimeSurvivesTheMicrosecondWrap) {
  test::FakeClock clock;
  clock.set_ms(4294967);  // 296 us before the 32-bit microsecond reading wraps
  Profile::Point p("wrap");
  measure(clock, p, 500);
  EXPECT_EQ(text_of(p), "[wrap]: min=500 max=500 avg=500 counter=1");
}

std::string dump_text() {
  std::ostringstream os;
  Profile::dump(os);
  return os.str();
}

TEST(ProfileDump, ListsLivePointsNewestFirst) {
  test::FakeClock clock;
  std::string const before = dump_text();
  Profile::Point a("a");
  measure(clock, a, 1);
  std::optional<Profile::Point> b, c;
  b.emplace("b");
  measure(clock, *b, 2);
  c.emplace("c");
  EXPECT_EQ(dump_text(),
            "[c]: min=0 max=0 avg=0 counter=0\n"
            "[b]: min=2 max=2 avg=2 counter=1\n"
            "[a]: min=1 max=1 avg=1 counter=1\n" +
                before);
  b.reset();
  EXPECT_EQ(dump_text(),
            "[c]: min=0 max=0 avg=0 counter=0\n"
            "[a]: min=1 max=1 avg=1 counter=1\n" +
                before);
  c.reset();
  EXPECT_EQ(dump_text(), "[a]: min=1 max=1 avg=1 counter=1\n" + before);
}

TEST(TraceBlock, WritesEnterAndLeaveOnlyWhenOn) {
  std::ostringstream os;
  {
    Trace::Block const outer(true, "outer", os);
    Trace::Block const quiet(false, "quiet", os);
    os << "body\n";
  }
  EXPECT_EQ(os.str(), "Enter outer\nbody\nLeave outer\n");
}

}  // namespace
