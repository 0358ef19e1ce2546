// Software T.38 slots in server-sim, driven over TCP, with the relay program's stand-in
// installed at its fixed path in the scene: the relay's command line and channel, its
// end as an abort, a destroy while it runs, a relay that cannot start, the count of
// relays in the resources report, and creates and destroys sent back to back.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "tests/e2e/channel_scene.h"
#include "tests/server/channel_commands.h"
#include "tests/support/install_program.h"

namespace {

using namespace e2e;
using lgcp_test::T38Params;

constexpr char kProgram[] = "/usr/local/sbin/t38";

std::function<bool(LGCP::Message const&)> abort_on(int slot) {
  return [slot](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && lgcp_test::abort_of(m); };
}

std::string report_of(int slot) { return "/var/log/t38-" + std::to_string(slot); }

T38Params relay(int slot, std::vector<std::string> words) {
  T38Params params;
  params.local_port = 4002;
  params.args = {"report=" + report_of(slot)};
  params.args.insert(params.args.end(), words.begin(), words.end());
  return params;
}

// The pids of the relays started, in order, from the daemon's output.
std::vector<int> started_pids(std::string const& output) {
  std::vector<int> pids;
  std::string const mark = "t38soft: t38 daemon[";
  for (std::size_t at = output.find(mark); at != std::string::npos; at = output.find(mark, at + 1))
    pids.push_back(std::atoi(output.c_str() + at + mark.size()));
  return pids;
}

// How many processes have `parent` as theirs.
int children_of(pid_t parent) {
  int n = 0;
  std::error_code error;
  for (auto const& entry : std::filesystem::directory_iterator("/proc", error)) {
    std::string const stat = read_file(entry.path().string() + "/stat");
    std::size_t const end = stat.rfind(')');
    int ppid = 0;
    char state = 0;
    if (end != std::string::npos && std::sscanf(stat.c_str() + end + 1, " %c %d", &state, &ppid) == 2 && ppid == parent)
      ++n;
  }
  return n;
}

TEST(T38Soft, RelaysRunEndAndFailAsChildrenOfTheDaemon) {
  std::string const failed = in_channel_scene([](ChannelScene& scene) {
    Daemon& daemon = scene.daemon;
    Controller& c = scene.c;
    test::BoardSimClient& board = scene.board;
    test::Failures& f = scene.f;
    auto command = [&](LGCP::Message const& m) { return scene.command(m); };

    // A relay that reads one frame from its channel and exits with 3.
    board.ok("clear");
    f.check(command(lgcp_test::create_t38soft(1, 7, relay(7, {"read", "exit=3"}))), "t38soft on slot 7");
    auto const ports = board.requests("mcc/ctl", "ioctl MCC_TIMESLOT");
    std::string const port = ports.empty() ? "none" : ports[0].substr(ports[0].find("result=") + 7);
    for (int const alternative : {int(LGCP::Signal::transmitter::id), int(LGCP::Signal::receiver::id)}) {
      auto const s = c.signal(signal_of(alternative, 7));
      if (!s) {
        f.check(false, "a stream of slot 7 is reported");
        continue;
      }
      auto const& signal = s->get_pdu().get_signal();
      LGCP::Stream const& stream =
          alternative == LGCP::Signal::transmitter::id ? signal.get_transmitter() : signal.get_receiver();
      f.check(stream.active_isSelected() && std::to_string(stream.get_active().getValue()) == port,
              "a stream of slot 7 is active on its port");
    }
    f.equal(board.requests("mcc/ctl", "open").at(0), "/dev/mcc/ctl open flags=O_RDWR", "a blocking open");
    f.equal(board.requests("mcc/ctl", "ioctl MCC_ALLOCATE").at(0),
            "/dev/mcc/ctl ioctl MCC_ALLOCATE mode=2 size=160 reserved=0 rx=2 tx=3", "a transparent channel");
    f.check(daemon.wait_output("t38soft: args for run t38 daemon:\n"
                               "t38soft: arg[0]=/usr/local/sbin/t38\n"
                               "t38soft: arg[1]=--child\n"
                               "t38soft: arg[2]=--remote\n"
                               "t38soft: arg[3]=10.0.0.5/4000/4002\n"
                               "t38soft: arg[4]=report=/var/log/t38-7\n"
                               "t38soft: arg[5]=read\n"
                               "t38soft: arg[6]=exit=3\n"
                               "t38soft: t38 daemon["),
            "the command line is logged, then the start");
    f.check(daemon.wait_output("] successfully started\n"), "the start");
    f.check(eventually([] { return !read_file(report_of(7)).empty(); }), "the relay runs");
    board.ok("set mcc/ctl " + port + " inject 543338");
    auto const ended = c.signal(abort_on(7));
    f.check(ended && lgcp_test::abort_of(*ended) == 768, "abort 768 on slot 7");
    f.check(daemon.wait_output("07:t38 soft: t38 daemon terminated with code=3\n"), "the relay's end is logged");
    f.equal(read_file(report_of(7)),
            "7\n/usr/local/sbin/t38\n--child\n--remote\n10.0.0.5/4000/4002\nreport=/var/log/t38-7\nread\nexit=3\n"
            "stdin=seqpacket\n543338\n",
            "the relay's command line, its standard input and the frame it read");
    f.check(!board.command("state mcc/ctl " + port).back().starts_with("ok"), "the port is free");
    f.check(command(destroy(2, 7)), "slot 7 is destroyed");
    f.check(!c.signal(abort_on(7), 300), "nothing more from slot 7");

    // A relay that waits: the destroy does not.
    f.check(command(lgcp_test::create_t38soft(3, 8, relay(8, {"wait"}))), "t38soft on slot 8");
    f.check(eventually([] { return !read_file(report_of(8)).empty(); }), "the relay waits");
    auto const asked = std::chrono::steady_clock::now();
    f.check(command(destroy(4, 8)), "slot 8 is destroyed");
    f.check(std::chrono::steady_clock::now() - asked < std::chrono::milliseconds(2000), "at once");
    f.check(eventually([] { return read_file(report_of(8)).ends_with("signal=15\n"); }), "the relay got SIGTERM");
    f.check(!c.signal(abort_on(8), 500), "no abort for a destroyed slot");

    // 40 words: 31 arguments in all.
    std::vector<std::string> words = {"wait"};
    for (int n = 3; n <= 40; ++n) words.push_back("word" + std::to_string(n));
    f.check(command(lgcp_test::create_t38soft(5, 9, relay(9, words))), "t38soft on slot 9");
    f.check(daemon.wait_output("t38soft: arg[30]=word27\n"), "the last argument logged is arg[30]");
    f.check(daemon.output().find("arg[31]") == std::string::npos, "no arg[31]");
    f.check(eventually([] { return read_file(report_of(9)).starts_with("31\n"); }), "the relay got 31 arguments");

    // Without the program the child cannot become the relay.
    ::unlink(kProgram);
    f.check(command(lgcp_test::create_t38soft(6, 10, relay(10, {}))), "t38soft on slot 10 without the program");
    auto const lost = c.signal(abort_on(10));
    f.check(lost && lgcp_test::abort_of(*lost) == 60672, "abort 60672 on slot 10");
    f.check(daemon.wait_output("10:t38 soft: t38 daemon terminated with code=237\n"), "exit code 237");
    f.check(!c.signal(abort_on(9), 300), "slot 9's relay goes on");
    f.check(read_file(report_of(9)).find("signal=") == std::string::npos, "and got no signal");

    std::vector<int> const pids = started_pids(daemon.output());
    f.check(pids.size() == 4, "four relays started");
    if (pids.size() == 4) ::kill(pids[2], SIGTERM);
    auto const killed = c.signal(abort_on(9));
    f.check(killed && lgcp_test::abort_of(*killed) == 15, "abort 15 on slot 9");
    f.check(daemon.wait_output("09:t38 soft: t38 daemon terminated by signal=15\n"), "the kill is logged");
    f.check(read_file(report_of(9)).ends_with("signal=15\n"), "slot 9's relay saw SIGTERM");

    c.send(query(7));
    auto const r = c.response(7);
    auto const report = c.signal(signal_of(LGCP::Signal::query::id));
    f.check(r && report && report->get_pdu().get_signal().get_query().get_t38_instances().getValue() == 0,
            "t38-instances 0 without the program");
    f.check(daemon.wait_output("t38: can't detect T38 resources\n"), "and why");

    // Creates and destroys back to back: a destroy that comes before the relay runs still
    // ends it, and its channel comes back.
    f.equal(test::install_program(T38_PROGRAM, kProgram), "", "the program again");
    board.ok("clear");
    for (int slot = 20; slot < 32; ++slot) {
      c.send(lgcp_test::create_t38soft(2 * slot, slot, relay(slot, {"wait"})));
      c.send(destroy(2 * slot + 1, slot));
    }
    for (int seq = 40; seq < 64; ++seq) {
      auto const r = c.response(seq);
      f.check(r && is_success(*r), "command " + std::to_string(seq) + " succeeds");
    }
    f.check(eventually([&] { return children_of(daemon.pid()) == 0; }, 10000),
            "no relay is left: " + std::to_string(children_of(daemon.pid())));
    auto const taken = board.requests("mcc/ctl", "ioctl MCC_TIMESLOT");
    f.equal(taken.size(), 12u, "twelve channels were taken");
    for (std::string const& line : taken) {
      std::string const channel = line.substr(line.find("result=") + 7);
      f.check(eventually([&] { return !board.command("state mcc/ctl " + channel).back().starts_with("ok"); }),
              "channel " + channel + " is free");
    }
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
