// The daemon from outside: a real process in its own namespaces, a real controller over
// TCP, signals from the test.

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/child_process.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;

constexpr int kInsufficientResources = 1;
constexpr int kInvalidSlot = 2;

bool exists(char const* path) {
  struct stat st;
  return ::stat(path, &st) == 0;
}

// The body of a test with a running server-sim and a connected controller.
std::string with_daemon(std::function<void(Daemon&, Controller&, test::Failures&)> const& body,
                        DaemonOptions options = {}) {
  return in_scene([&]() -> std::string {
    Daemon daemon(options);
    if (std::string const failed = daemon.start(); !failed.empty()) return failed;
    Controller controller;
    if (std::string const failed = controller.connect(kPort); !failed.empty()) return failed;
    test::Failures f;
    body(daemon, controller, f);
    f.check(controller.undecodable().empty(), "the daemon sent a body that does not decode");
    controller.close();
    std::string const stopped = daemon.stop(SIGTERM);
    f.equal(stopped, "", "SIGTERM ends the daemon cleanly");
    f.check(!exists(kPidFile), "the pid file is gone after the end");
    return f.result();
  });
}

TEST(EndToEnd, AnswersPingQueryDisplayAndDeclinesWhatItCannotBuild) {
  EXPECT_EQ(with_daemon([](Daemon& daemon, Controller& c, test::Failures& f) {
              f.check(exists(kPidFile), "the pid file exists while the daemon runs");
              f.equal(read_file(kPidFile), std::to_string(daemon.pid()), "the pid file holds the daemon's pid");
              f.check(daemon.output().find("Starting server [") != std::string::npos, "the start line");

              c.send(ping(1));
              auto r = c.response(1);
              f.check(r && is_success(*r), "ping is answered success");

              c.send(query(2));
              r = c.response(2);
              f.check(r && is_success(*r), "query is answered success");
              auto s = c.signal(signal_of(LGCP::Signal::query::id));
              f.check(s.has_value(), "the query signal follows its success");

              c.send(command(3, -1, [](LGCP::Command& cmd) { cmd.select_display().select_snmpTrapReceivers(); }));
              r = c.response(3);
              f.check(r && is_success(*r), "display is answered success");

              c.send(command(4, 12, [](LGCP::Command& cmd) {
                cmd.select_create().select_pstn().select_cas().set_trunk(0);
              }));
              r = c.response(4);
              f.check(r && error_of(*r) == kInsufficientResources, "a pstn create is answered insufficientResources");
              if (r) f.check(r->slot_isPresent() && r->get_slot().getValue() == 12u, "the answer names the slot");
            }),
            "");
}

TEST(EndToEnd, BadFramesAndSlotNumbers) {
  EXPECT_EQ(with_daemon([](Daemon& daemon, Controller& c, test::Failures& f) {
              // Not a message: no answer, and the link stays up.
              c.send_body(std::string("\xFF", 1));
              f.check(c.quiet(300), "an undecodable frame gets no answer");
              f.check(daemon.wait_output("receive fail: decode error!"), "the daemon says why it dropped the frame");
              c.send(ping(5));
              auto r = c.response(5);
              f.check(r && is_success(*r), "the link still serves after a bad frame");

              // Neither encoder writes slot 1024: take slot 1023's bytes and change the slot.
              ASN1::CoderEnv env;
              env.set_encodingRule(ASN1::CoderEnv::per);
              std::vector<char> bytes;
              LGCP::Message m = ping(9);
              m.set_slot(1023);
              ASN1::encode(m, &env, std::back_inserter(bytes));
              std::string body(bytes.begin(), bytes.end());
              f.equal(test::printable(body.substr(0, 5)), test::printable(std::string("\xC0\x01\x09\x03\xFF", 5)),
                      "slot 1023 sits in the two octets after seq");
              body[3] = '\x04';
              body[4] = '\x00';
              c.send_body(body);
              r = c.response(9);
              f.check(r && error_of(*r) == kInvalidSlot, "slot 1024 is answered invalidSlot");
              if (r) f.check(!r->slot_isPresent(), "invalidSlot carries no slot");
            }),
            "");
}

TEST(EndToEnd, ServesOneControllerAtATime) {
  EXPECT_EQ(with_daemon([](Daemon&, Controller& first, test::Failures& f) {
              first.send(ping(1));
              auto r = first.response(1);
              f.check(r && is_success(*r), "the first controller is served");
              Controller second;
              f.equal(second.connect(kPort), "", "the second controller's connect");
              second.send(ping(2));
              f.check(second.sees_close(), "the second controller is refused");
              first.send(ping(3));
              r = first.response(3);
              f.check(r && is_success(*r), "the first controller keeps working");
            }),
            "");
}

TEST(EndToEnd, SignalsFromTheSystem) {
  EXPECT_EQ(with_daemon([](Daemon& daemon, Controller& c, test::Failures& f) {
              c.send(ping(1));
              auto r = c.response(1);
              f.check(r && is_success(*r), "ping");

              ::kill(daemon.pid(), SIGUSR2);
              f.check(eventually([] { return read_file(kStatusFile).find("server status information.") == 0; }),
                      "SIGUSR2 writes the status file");

              ::kill(daemon.pid(), SIGHUP);
              auto s = c.signal(signal_of(LGCP::Signal::query::id));
              f.check(s.has_value(), "SIGHUP sends a query signal");
              if (s) f.check(!s->slot_isPresent(), "the query signal carries no slot");
              f.check(daemon.wait_output("update hardware resources"), "SIGHUP's log line");
            }),
            "");
}

TEST(EndToEnd, InTheBackgroundTheStandInAnswersUnderTheDaemonsOwnPid) {
  EXPECT_EQ(in_scene([]() -> std::string {
              DaemonOptions options;
              options.args = {"-D"};
              options.detaches = true;
              Daemon daemon(options);
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              test::Failures f;
              test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
              f.check(board.connected(), "the control socket is named after the daemon's pid");
              f.check(!board.ok("watchdog").empty(), "the stand-in answers");
              Controller c;
              f.equal(c.connect(kPort), "", "connect");
              c.send(ping(1));
              auto r = c.response(1);
              f.check(r && is_success(*r), "the daemon in the background serves");
              c.close();
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              f.check(!exists(kPidFile), "the pid file is gone after the end");
              return f.result();
            }),
            "");
}

// 120000 ms of the daemon's time pass in about 1.2 s under a clock a hundred times fast.
TEST(EndToEnd, TheHeartbeatDropsAControllerSilentAfterACommand) {
  // Preloaded straight into the daemon: the faketime program would stand between the
  // test and the daemon's pid. The library comes before the sanitizer runtime.
  char const library[] = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1";
  struct stat st;
  ASSERT_EQ(::stat(library, &st), 0) << library << " is missing: install the Debian package faketime";
  DaemonOptions options;
  options.environment = {std::string("LD_PRELOAD=") + library, "FAKETIME=+0 x100",
                         "ASAN_OPTIONS=detect_leaks=1:verify_asan_link_order=0"};
  EXPECT_EQ(with_daemon(
                [](Daemon&, Controller& c, test::Failures& f) {
                  // Never a command: the watch is not armed.
                  f.check(!c.sees_close(3000), "a controller that sent no command is not dropped");
                  c.send(ping(1));
                  auto r = c.response(1);
                  f.check(r && is_success(*r), "ping");
                  f.check(!c.sees_close(500), "not dropped within 50 s of its time");
                  f.check(c.sees_close(5000), "dropped after 120 s of its time without a command");
                  Controller next;
                  f.check(eventually([&] {
                            if (!next.connect(kPort).empty()) return false;
                            next.send(ping(2));
                            auto again = next.response(2, 500);
                            return again && is_success(*again);
                          }),
                          "a new controller is served after the drop");
                },
                options),
            "");
}

TEST(EndToEnd, WithoutTheStandInTheRealBinaryStillServes) {
  EXPECT_EQ(in_scene([]() -> std::string {
              DaemonOptions options;
              options.program = server_program();
              Daemon daemon(options);
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              test::Failures f;
              f.check(daemon.wait_output("hwMux: can't open device: No such file or directory"),
                      "the daemon says it cannot open the switch:\n" + daemon.output());
              Controller c;
              f.equal(c.connect(kPort), "", "connect");
              c.send(ping(1));
              auto r = c.response(1);
              f.check(r && is_success(*r), "ping is answered without a board");
              f.check(daemon.output().find("fail to open \"/dev/mctl\"") != std::string::npos,
                      "the modem factory cannot count modems:\n" + daemon.output());
              f.check(daemon.wait_output("rtp[0,0,0,0]: device \"/dev/voice\" open fail: No such file or directory\n"),
                      "the RTP factory's first capacity query says it has no voice driver");
              c.send(query(2));
              r = c.response(2);
              auto const report = c.signal(signal_of(LGCP::Signal::query::id));
              f.check(r && is_success(*r) && report, "query is answered with a report");
              if (report) {
                LGCP::Resources const& res = report->get_pdu().get_signal().get_query();
                f.check(res.get_modem().getValue() == 0, "no modem");
                f.check(res.get_rtp_g729().getValue() == 0 && res.get_rtp_g723().getValue() == 0 &&
                            res.get_rtp_g711().getValue() == 0 && res.get_rtp_g711mcc().getValue() == 0 &&
                            res.get_universal().getValue() == 0,
                        "no codec capacity without a board");
              }
              c.close();
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              return f.result();
            }),
            "");
}

// Nothing in the daemons reads the DTMF table: it is there only if the link keeps it.
TEST(EndToEnd, BothDaemonsCarryTheDtmfTable) {
  test::require_tool("nm", "binutils");
  test::TempDir dir;
  for (std::string const& program : {server_sim_program(), server_program()}) {
    int status = 0;
    test::ChildProcess nm({"nm", "-C", program}, dir / "symbols", dir / "errors");
    ASSERT_TRUE(nm.wait(60000, &status)) << "nm " << program << " did not end";
    std::string const symbols = test::read_file(dir / "symbols");
    EXPECT_EQ(status, 0) << test::read_file(dir / "errors");
    EXPECT_NE(symbols.find(" Dtmf::tonesValidator\n"), std::string::npos) << program;
    EXPECT_NE(symbols.find(" Dtmf::freq2\n"), std::string::npos) << program;
  }
}

}  // namespace

namespace {

std::string const kUsage =
    "Usage:\n"
    " vostrand -Dh\n"
    "  -D --daemon                      run as daemon\n"
    "  -p --port                        use this port\n"
    "     --disable-clock               disable clock control\n"
    "     --version                     print version\n"
    "  -h --help                        display this information\n"
    "\n";

// A run that should end by itself: its output, and "exit <n>" or how else it ended.
std::pair<std::string, std::string> run_with(std::vector<std::string> args) {
  DaemonOptions options;
  options.args = std::move(args);
  Daemon daemon(options);
  int const status = daemon.run_to_end(10000);
  std::string ending = "did not end";
  if (status != -1) ending = WIFEXITED(status) ? "exit " + std::to_string(WEXITSTATUS(status)) : "killed";
  return {daemon.output(), ending};
}

TEST(EndToEnd, CommandLineSignalsAndTheStatusDump) {
  EXPECT_EQ(in_scene([]() -> std::string {
              test::Failures f;
              auto [help, help_end] = run_with({"--help"});
              f.equal(help_end, "exit 0", "--help");
              f.equal(help, kUsage, "--help prints the usage text");
              auto [short_help, short_help_end] = run_with({"-h"});
              f.equal(short_help_end, "exit 0", "-h");
              auto [version, version_end] = run_with({"--version"});
              f.equal(version_end, "exit 2", "--version");
              f.check(version.rfind("server version: ", 0) == 0 && version.find("Starting server") == std::string::npos,
                      "--version prints the version before anything starts: " + version);
              auto [unknown, unknown_end] = run_with({"--bogus"});
              f.equal(unknown_end, "exit 2", "an unknown option");
              f.check(unknown.ends_with(kUsage), "an unknown option prints the usage text: " + unknown);
              // Only the long form names the port; "-p" is not among the short options.
              auto [short_port, short_port_end] = run_with({"-p", "20002"});
              f.equal(short_port_end, "exit 2", "-p");
              f.check(short_port.ends_with(kUsage), "-p prints the usage text: " + short_port);
              f.check(!exists(kPidFile), "no run above wrote a pid file");

              DaemonOptions options;
              options.args = {"--port", "20077"};
              options.port = 20077;
              Daemon daemon(options);
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              f.check(daemon.wait_output("Starting server ["), "the start line");
              f.check(daemon.output().find(", port=20077\n") != std::string::npos, "the start line names the port");
              Controller c;
              f.equal(c.connect(20077), "", "--port 20077: the controller connects there");
              c.send(ping(1));
              auto r = c.response(1);
              f.check(r && is_success(*r), "ping on the chosen port");
              Controller missing;
              f.check(!missing.connect(kPort).empty(), "nothing listens on the default port");

              // Two SIGUSR2 before the loop can take either: one dump.
              ::kill(daemon.pid(), SIGSTOP);
              ::kill(daemon.pid(), SIGUSR2);
              ::kill(daemon.pid(), SIGUSR2);
              ::kill(daemon.pid(), SIGCONT);
              f.check(eventually([] { return read_file(kStatusFile).find("server status information.") == 0; }),
                      "SIGUSR2 writes the status file");
              ::unlink(kStatusFile);
              c.send(ping(2));
              r = c.response(2);
              f.check(r && is_success(*r), "the daemon goes on");
              f.check(!eventually([] { return exists(kStatusFile); }, 1000), "one dump, not two");
              c.close();

              f.equal(daemon.stop(SIGINT), "", "SIGINT ends the daemon with status 0");
              f.check(!exists(kPidFile), "SIGINT removes the pid file");
              return f.result();
            }),
            "");
}

}  // namespace
