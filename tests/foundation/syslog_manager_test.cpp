// The system-log client against real peers at "/dev/log": a datagram listener (records
// byte for byte, batch limits), a stream-only listener, a restarted daemon, busybox
// syslogd, and the console when no daemon is there. "/dev/log" is fixed, so every test
// runs in a child with its own mount namespace and a private /dev.

#include "foundation/syslog_manager.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <syslog.h>
#include <unistd.h>

#include "tests/support/fake_clock.h"
#include "tests/support/log_listener.h"
#include "tests/support/own_process.h"
#include "tests/support/private_mounts.h"

namespace {

using test::DatagramLogListener;
using test::split_records;
using test::StreamLogListener;

// Runs body with a private /dev, local time in UTC and the loop clock at 2026-01-01
// 00:00:00 plus `ms`, so that every record's time stamp is known.
std::string with_log(std::function<std::string(test::Failures&)> const& body, std::uint64_t ms = 0) {
  return test::in_private_dev({"/var/log"}, [&]() -> std::string {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    test::FakeClock const clock(ms);
    test::Failures failures;
    std::string const problem = body(failures);
    return problem + failures.result();
  });
}

// A record as it is sent: with its NUL.
std::string record(std::string const& text) { return text + std::string(1, '\0'); }

std::string text(std::size_t length, char fill = 'x') { return std::string(length, fill); }

TEST(SysLogManager, RecordsAreByteExact) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    SysLogManager client;
    client.openlog("probe", LOG_NDELAY, 0);
    f.check(client.connected(), "openlog with LOG_NDELAY connects at once");

    client.syslog(29, "hello");
    client.sendmsg();
    f.equal(listener.receive().value_or("none"), record("<29>Jan  1 00:00:00 probe: hello"), "identity and text");

    client.syslog(LOG_DAEMON | LOG_ERR, "%s", "100% %s %n done");
    client.sendmsg();
    f.equal(listener.receive().value_or("none"), record("<27>Jan  1 00:00:00 probe: 100% %s %n done"),
            "a line handed over as data");

    client.syslog(LOG_NOTICE, "no facility");
    client.sendmsg();
    f.equal(listener.receive().value_or("none"), record("<13>Jan  1 00:00:00 probe: no facility"),
            "the default facility is user");

    client.openlog("", LOG_NDELAY, LOG_LOCAL0);
    client.syslog(LOG_INFO, "bare");
    client.sendmsg();
    f.equal(listener.receive().value_or("none"), record("<134>Jan  1 00:00:00 bare"),
            "no identity: neither it nor the colon");

    client.openlog("pid", LOG_NDELAY | LOG_PID, 0x400);  // not a facility: ignored
    client.syslog(LOG_INFO, "with pid");
    client.sendmsg();
    f.equal(listener.receive().value_or("none"),
            "<134>Jan  1 00:00:00 pid[" + std::to_string(::getpid()) + "]: with pid" + std::string(1, '\0'),
            "process id after the identity");

    client.openlog("long", LOG_NDELAY, 0);
    client.syslog(LOG_INFO, "%s", text(2000).c_str());
    client.sendmsg();
    std::string const cut = listener.receive().value_or("none");
    f.equal(cut.size(), 1024u, "a record is at most 1,023 characters and its NUL");
    f.equal(cut.substr(0, 28), "<134>Jan  1 00:00:00 long: x", "the start of a cut record");
    f.check(cut.back() == '\0', "a cut record still ends with its NUL");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, TheTimeStampPadsTheDayAndFollowsTheClock) {
  // 2026-01-01 00:00:00 plus 40 days, 13:05:09.
  std::uint64_t const ms = ((40ull * 24 + 13) * 3600 + 5 * 60 + 9) * 1000;
  std::string const failure = with_log(
      [](test::Failures& f) -> std::string {
        DatagramLogListener listener;
        SysLogManager client;
        client.openlog("t", LOG_NDELAY, 0);
        client.syslog(LOG_USER | LOG_INFO, "a");
        test::FakeClock::current()->advance_ms(1000);
        client.syslog(LOG_USER | LOG_INFO, "b");
        test::FakeClock::current()->advance_ms(24 * 3600 * 1000);
        client.syslog(LOG_USER | LOG_INFO, "c");
        client.sendmsg();
        std::string const batch = listener.receive().value_or("");
        f.equal(batch,
                record("<14>Feb 10 13:05:09 t: a") + record("<14>Feb 10 13:05:10 t: b") +
                    record("<14>Feb 11 13:05:10 t: c"),
                "three records in one batch");
        return {};
      },
      ms);
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, BatchesLeaveAt256RecordsOrPast12288Bytes) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    SysLogManager client;
    client.openlog("batch", LOG_NDELAY, 0);
    for (int i = 0; i < 300; ++i) client.syslog(LOG_INFO, "short record %d", i);
    std::string const first = listener.receive(0).value_or("");
    std::vector<std::string> const full = split_records(first);
    f.equal(full.size(), 256u, "the 256th record sends the batch by itself");
    f.equal(full.front(), "<14>Jan  1 00:00:00 batch: short record 0", "first record of the first batch");
    f.equal(full.back(), "<14>Jan  1 00:00:00 batch: short record 255", "last record of the first batch");
    f.check(!listener.receive(0), "the other 44 wait for the flush");
    f.equal(client.sendmsg(), 44 * 44, "bytes of the second batch (44 records of 44 bytes)");
    std::vector<std::string> const rest = split_records(listener.receive(0).value_or(""));
    f.equal(rest.size(), 44u, "the flush sends the rest");
    f.equal(rest.back(), "<14>Jan  1 00:00:00 batch: short record 299", "last record");
    f.equal(client.sendmsg(), 0, "an empty batch sends nothing");

    // Records of exactly 1,000 bytes (with their NUL): twelve wait, the thirteenth
    // takes the batch past 12,288 bytes.
    std::string const header = "<14>Jan  1 00:00:00 batch: ";
    std::string const body = text(1000 - header.size() - 1, 'y');
    for (int i = 0; i < 12; ++i) client.syslog(LOG_INFO, "%s", body.c_str());
    f.check(!listener.receive(0), "12,000 bytes wait");
    client.syslog(LOG_INFO, "%s", body.c_str());
    std::string const big = listener.receive(0).value_or("");
    f.equal(big.size(), 13000u, "13 records of 1,000 bytes leave as one batch");
    f.equal(split_records(big).size(), 13u, "records in it");
    f.equal(split_records(big).back(), header + body, "a record of the big batch");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, AStreamOnlyDaemonGetsRecordsWithoutAnAddress) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    auto listener = std::make_unique<StreamLogListener>();
    SysLogManager client;
    client.openlog("strm", LOG_NDELAY, 0);
    f.check(client.connected(), "connected after switching to a stream socket");
    f.equal(client.socket_type(), int{SOCK_STREAM}, "socket type");
    client.syslog(LOG_INFO, "one");
    client.syslog(LOG_INFO, "two");
    f.equal(client.sendmsg(), 2 * 30, "the batch is sent whole on the connected stream");
    std::vector<std::string> got = listener->records(2);
    f.equal(got.size(), 2u, "records on the stream");
    if (got.size() == 2) {
      f.equal(got[0], "<14>Jan  1 00:00:00 strm: one", "first record");
      f.equal(got[1], "<14>Jan  1 00:00:00 strm: two", "second record");
    }

    // The daemon goes away: the flush that finds out drops its batch and closes the
    // socket; the next record reconnects to the new daemon.
    listener.reset();
    listener = std::make_unique<StreamLogListener>();
    client.syslog(LOG_INFO, "lost with the old connection");
    f.check(client.sendmsg() < 0, "the flush on a closed stream fails");
    f.check(!client.connected() && client.fd() < 0, "a failed flush closes the socket");
    client.syslog(LOG_INFO, "three");
    f.check(client.connected(), "the next record reconnects");
    client.sendmsg();
    got = listener->records(1);
    f.equal(got.size(), 1u, "records on the new connection");
    if (!got.empty()) f.equal(got[0], "<14>Jan  1 00:00:00 strm: three", "record after the reconnect");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, ARestartedDatagramDaemonIsReachedWithoutReconnecting) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    auto listener = std::make_unique<DatagramLogListener>();
    SysLogManager client;
    client.openlog("dgram", LOG_NDELAY, 0);
    int const fd = client.fd();
    client.syslog(LOG_INFO, "before");
    client.sendmsg();
    f.equal(split_records(listener->receive().value_or("")).size(), 1u, "record before the restart");

    listener.reset();
    listener = std::make_unique<DatagramLogListener>();
    client.syslog(LOG_INFO, "after");
    f.check(client.sendmsg() > 0, "the send reaches the new socket at the same path");
    f.equal(listener->receive().value_or(""), record("<14>Jan  1 00:00:00 dgram: after"), "record after the restart");
    f.equal(client.fd(), fd, "the same socket");

    // No daemon at all: the flush fails and closes; the next record, once a
    // daemon is back, reconnects.
    listener.reset();
    client.syslog(LOG_INFO, "nobody listens");
    f.check(client.sendmsg() < 0, "a flush with no daemon fails");
    f.check(!client.connected() && client.fd() < 0, "and closes the socket");
    listener = std::make_unique<DatagramLogListener>();
    client.syslog(LOG_INFO, "back");
    client.sendmsg();
    f.equal(listener->receive().value_or(""), record("<14>Jan  1 00:00:00 dgram: back"),
            "record after the daemon came back");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, DescriptorZeroIsAValidSocket) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    ::close(STDIN_FILENO);
    SysLogManager client;
    client.openlog("zero", LOG_NDELAY, 0);
    f.equal(client.fd(), 0, "the socket got descriptor 0");
    f.check(client.connected(), "and is connected");
    client.syslog(LOG_INFO, "via zero");
    client.sendmsg();
    f.equal(listener.receive().value_or(""), record("<14>Jan  1 00:00:00 zero: via zero"),
            "record sent on descriptor 0");
    return {};
  });
  EXPECT_EQ(failure, "");
}

std::string file_text(char const* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(SysLogManager, WithoutADaemonRecordsGoToTheConsoleWhenAsked) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    // The private /dev has no /dev/log; a plain file stands in for the console.
    { std::ofstream console("/dev/console"); }
    SysLogManager client;
    client.openlog("cons", LOG_NDELAY | LOG_CONS, 0);
    f.check(!client.connected(), "no daemon: not connected");
    client.syslog(LOG_INFO, "to the console");
    f.equal(file_text("/dev/console"), "cons: to the console\r\n", "console text");

    client.openlog("quiet", LOG_NDELAY, 0);
    client.syslog(LOG_INFO, "dropped");
    f.equal(file_text("/dev/console"), "cons: to the console\r\n", "without LOG_CONS nothing is written");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, PerrorCopiesTheMessageToTheErrorDescriptor) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    int const file = ::open("/var/log/stderr", O_CREAT | O_RDWR | O_TRUNC, 0644);
    ::dup2(file, STDERR_FILENO);
    ::close(file);
    SysLogManager client;
    client.openlog("err", LOG_NDELAY | LOG_PERROR, 0);
    client.syslog(LOG_INFO, "copied");
    client.syslog(LOG_INFO, "ends a line\n");
    client.sendmsg();
    f.equal(file_text("/var/log/stderr"), "err: copied\nerr: ends a line\n", "what descriptor 2 got");
    f.equal(split_records(listener.receive().value_or("")).size(), 2u, "the records still go to the log");
    return {};
  });
  EXPECT_EQ(failure, "");
}

TEST(SysLogManager, ClosedLogReopensWithTheDefaults) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    DatagramLogListener listener;
    SysLogManager client;
    client.openlog("named", LOG_NDELAY, 0);
    client.syslog(LOG_INFO, "pending");
    client.closelog();
    f.check(client.fd() < 0 && !client.connected(), "closed");
    f.equal(client.sendmsg(), 0, "closelog emptied the batch");
    client.syslog(LOG_INFO, "reopened");
    client.sendmsg();
    f.equal(listener.receive().value_or(""), record("<14>Jan  1 00:00:00 syslog-qx: reopened"),
            "the default identity, reconnected by the record");
    return {};
  });
  EXPECT_EQ(failure, "");
}

// Against a real log daemon. It reads at most 1,023 bytes of a datagram, so every batch
// sent to it here stays below that.
TEST(SysLogManager, BusyboxSyslogdLogsEveryRecordAndSurvivesARestart) {
  std::string const failure = with_log([](test::Failures& f) -> std::string {
    test::BusyboxSyslogd daemon("/var/log/messages");
    SysLogManager client;
    client.openlog("bbx", LOG_NDELAY, 0);
    for (int i = 1; i <= 5; ++i) client.syslog(LOG_DAEMON | LOG_WARNING, "batched record %d", i);
    client.sendmsg();
    f.check(daemon.wait_for("daemon.warn bbx: batched record 5"), "the last record of a batch");
    int found = 0;
    for (std::string const& line : daemon.lines())
      if (line.find("daemon.warn bbx: batched record ") != std::string::npos) ++found;
    f.equal(found, 5, "busybox splits the batch into its records");

    daemon.stop();
    daemon.start();
    client.syslog(LOG_LOCAL3 | LOG_ERR, "after the restart");
    client.sendmsg();
    f.check(daemon.wait_for("local3.err bbx: after the restart"), "record to the restarted daemon");
    return {};
  });
  EXPECT_EQ(failure, "");
}

}  // namespace
