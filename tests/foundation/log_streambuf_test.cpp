// The log stream buffers: lines to system-log records (through the process's client and
// through the C library), and hourly log files on simulated time.

#include "foundation/log_streambuf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <syslog.h>

#include "foundation/syslog_manager.h"
#include "tests/support/fake_clock.h"
#include "tests/support/log_listener.h"
#include "tests/support/own_process.h"
#include "tests/support/private_mounts.h"

namespace {

using test::DatagramLogListener;
using test::split_records;

std::string with_log(std::function<std::string(test::Failures&)> const& body) {
  return test::in_private_dev({}, [&]() -> std::string {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    test::FakeClock const clock(0);
    test::Failures failures;
    std::string const problem = body(failures);
    return problem + failures.result();
  });
}

std::string const kStamp = "Jan  1 00:00:00 ";

TEST(ManagedSysLogStreamBuf, EachLineOfAFlushIsARecordAndTheFlushSendsThem) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    syslogManager.openlog("buf", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buf(3, LOG_DEBUG);
    std::ostream os(&buf);

    os << "a\nb\nc" << std::flush;
    std::vector<std::string> records = split_records(listener.receive(0).value_or(""));
    f.equal(records.size(), 3u, "one send holds the flush's records");
    if (records.size() == 3) {
      f.equal(records[0], "<31>" + kStamp + "buf: a", "first");
      f.equal(records[1], "<31>" + kStamp + "buf: b", "second");
      f.equal(records[2], "<31>" + kStamp + "buf: c", "last text without a line end");
    }

    os << "abc" << std::flush;
    f.check(!listener.receive(0), "text without a line end waits");
    os << "def %s %d %n" << std::endl;
    f.equal(listener.receive(0).value_or(""), "<31>" + kStamp + "buf: abcdef %s %d %n" + std::string(1, '\0'),
            "the completed line, percent signs as data");

    os << "no flush\n";
    f.check(!listener.receive(0), "a line end alone does not flush");
    os.flush();
    f.equal(split_records(listener.receive(0).value_or("")).size(), 1u, "the flush sends it");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(ManagedSysLogStreamBuf, AFullAreaReleasesARecordWithoutALineEnd) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    syslogManager.openlog("", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buf(3, LOG_ERR);
    std::ostream os(&buf);
    std::string line(20000, 'x');
    for (std::size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char>('a' + i % 26);
    os << line;
    std::string const first = listener.receive(0).value_or("");
    // The area holds 16,383 characters; the record is cut to 1,023.
    std::string const head = "<27>" + kStamp;
    f.equal(first, head + line.substr(0, 1023 - head.size()) + std::string(1, '\0'), "record of the full area");
    f.check(!listener.receive(0), "the rest waits for its line end");
    os << std::endl;
    std::string const rest = listener.receive(0).value_or("");
    f.equal(rest.substr(0, head.size() + 10), head + line.substr(16383, 10), "the rest follows as its own record");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(ManagedSysLogStreamBuf, AUnitBufferedStreamReleasesOnlyWholeLines) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    syslogManager.openlog("err", LOG_NDELAY, 0);
    ManagedSysLogStreamBuf buf(3, LOG_ERR);
    std::ostream os(&buf);
    os.setf(std::ios::unitbuf);  // as std::cerr
    os << "value=" << 42;
    f.check(!listener.receive(0), "partial text keeps waiting");
    os << " done\n";
    f.equal(listener.receive(0).value_or(""), "<27>" + kStamp + "err: value=42 done" + std::string(1, '\0'),
            "the whole line");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogStreamBuf, EachLineGoesToTheCLibrarysSyslog) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    ::openlog("clib", LOG_NDELAY, LOG_USER);
    {
      SysLogStreamBuf buf(3, LOG_INFO);
      std::ostream os(&buf);
      os << "one\ntwo 100%s" << std::flush << "held";
      for (char const* text : {"clib: one", "clib: two 100%s"}) {
        std::string const got = listener.receive(0).value_or("");
        f.check(got.rfind("<30>", 0) == 0 && got.size() > std::string(text).size() &&
                    got.compare(got.size() - std::string(text).size(), std::string::npos, text) == 0,
                "record \"" + test::printable(got) + "\" should be <30>...\"" + text + "\"");
      }
    }
    f.check(!listener.receive(0), "text pending at destruction is dropped");
    ::closelog();
    return {};
  });
  EXPECT_EQ(failure, "");
}

// --- log files ------------------------------------------------------------------------

class LogFileTest : public ::testing::Test {
protected:
  LogFileTest() {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    char name[] = "/tmp/log_streambuf_test.XXXXXX";
    directory = ::mkdtemp(name);
  }
  ~LogFileTest() override { std::filesystem::remove_all(directory); }

  std::string file(char const* name) const {
    std::ifstream in(directory + "/" + name);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // 2026-01-01 00:59:58.000250 UTC
  test::FakeClock clock{(59 * 60 + 58) * 1000};
  std::string directory;
};

TEST_F(LogFileTest, LinesGetATimePrefixAndEachHourItsFile) {
  clock.advance_us(250);
  {
    LogFileStreamBuf buf(directory);
    std::ostream os(&buf);
    os << "a line longer than the sixteen bytes of the area\n" << std::flush;
    os << "short\nacross " << std::flush;
    clock.advance_ms(2000);  // 01:00:00.000250
    os << "the hour\nnext hour" << std::flush << " goes on\n" << std::flush;
  }
  EXPECT_EQ(file("2026_01_01-00.log"),
            "59:58:00250: a line longer than the sixteen bytes of the area\n"
            "59:58:00250: short\n"
            "59:58:00250: across the hour\n");
  EXPECT_EQ(file("2026_01_01-01.log"), "00:00:00250: next hour goes on\n");
}

TEST_F(LogFileTest, ARestartWithinTheHourAppends) {
  clock.advance_us(123456);
  for (char const* text : {"before the restart\n", "after the restart\n"}) {
    LogFileStreamBuf buf(directory);
    std::ostream os(&buf);
    os << text << std::flush;
  }
  EXPECT_EQ(file("2026_01_01-00.log"), "59:58:123456: before the restart\n59:58:123456: after the restart\n");
}

TEST_F(LogFileTest, WithoutItsFolderLinesAreDroppedUntilAFileOpens) {
  std::string const missing = directory + "/missing";
  LogFileStreamBuf buf(missing);
  std::ostream os(&buf);
  os << "dropped\n" << std::flush;
  std::filesystem::create_directory(missing);
  clock.advance_ms(2000);
  os << "kept\n" << std::flush;
  EXPECT_EQ(file("missing/2026_01_01-00.log"), "");
  EXPECT_EQ(file("missing/2026_01_01-01.log"), "00:00:00000: kept\n");
}

}  // namespace
