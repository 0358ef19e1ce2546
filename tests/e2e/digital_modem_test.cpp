// Digital modems and the PPP authentication link against server-sim in one run: tun
// devices hdlc0 and hdlc1 in the scene's network namespace stand for the HDLC
// interfaces (the stand-in plays generic HDLC behind those it is told to), the modem
// program stands for the PPP daemon, and TCP clients on loopback for the
// authentication agent. Erlang's codec reads every body of the run.

#include <gtest/gtest.h>

#include <net/if.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <sstream>
#include <thread>

#include "schemas/term.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/modem_messages.h"
#include "tests/e2e/modem_scene.h"
#include "tests/e2e/scene.h"
#include "tests/support/auth_agent.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"
#include "tests/support/private_network.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

constexpr int kTrunk = 4;  // trunk {1,5}: channel 37
constexpr int kQuietMs = 300;
constexpr char kSlotMap[] = "4608";
char const* const kConnectFail = "error 9";
constexpr char kRawHdlc[] = "slotmap=4608 proto=hdlc encoding=0 parity=0";

LGCP::Message create_modem(int seq, int slot, std::string const& cid, bool digital, bool fax_call = false) {
  return command(seq, slot, [&](LGCP::Command& c) {
    TERM::ModemParams& m = c.select_create().select_modem();
    m.set_cid(cid);
    m.set_cdid("");
    if (fax_call) {
      m.set_fax();
      m.set_originate();
    }
    if (!digital) return;
    m.set_ddm();
    m.ref_ddm().push_back(TERM::DigitalDataModeEnum(TERM::DigitalDataModeEnum::ddm8BIT));
  });
}

LGCP::Message activate(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) {
    TERM::ModemUserParameters& user = c.select_activate().select_modem();
    user.set_remoteAddr("10.0.0.2");
    user.set_netmask("255.255.255.0");
    user.set_gateway("10.0.0.1");
    user.set_dns("nonsense");
    user.set_mtu(1500);
  });
}

// The records of an activation above for session 0: words and MTU in the host's byte
// order, the addresses in network order.
std::string const kAccept = test::auth_words({16, 2, 0, 1});
std::string const kIp = test::auth_words({36, 3, 0, 0}) +
                        std::string("\x0a\x00\x00\x02\xff\xff\xff\x00\x0a\x00\x00\x01\xff\xff\xff\xff", 16) +
                        test::auth_words({1500});

int elapsed_ms(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

// The line `ss -ltn` gives for a listener on 127.0.0.1:52000, or what went wrong.
std::string auth_listener_line() {
  std::unique_ptr<FILE, int (*)(FILE*)> ss(::popen("ss -ltn 2>&1", "r"), &::pclose);
  if (!ss) return "cannot run ss";
  std::string text;
  char buf[512];
  while (std::fgets(buf, sizeof buf, ss.get())) text += buf;
  if (text.find("not found") != std::string::npos) return "ss is missing (package iproute2)";
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string state, received, backlog, local;
    words >> state >> received >> backlog >> local;
    if (local == "127.0.0.1:52000") return state + " backlog " + backlog;
  }
  return "no listener on 127.0.0.1:52000 in:\n" + text;
}

bool is_up(std::string const& name) {
  int const flags = test::interface_flags(name);
  return flags > 0 && (flags & IFF_UP);
}

class DigitalRun : public ModemTalk {
public:
  DigitalRun(Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f)
      : ModemTalk(c), m_daemon(daemon), m_board(board), f(f) {}

  void start_up();
  void digital_modem_up();
  void unplayed_interface();
  void teardown();
  void agent_traffic();
  void bad_records();
  void unidentified_agent();
  void agent_cap();
  void controller_loss(Controller& next);
  void restart();

private:
  // The daemon's output from `mark` on.
  std::string said_since(std::size_t mark) const {
    std::string const said = m_daemon.output();
    return said.substr(std::min(mark, said.size()));
  }
  std::size_t mark() const { return m_daemon.output().size(); }
  bool says(std::string const& text, int wait_ms = 5000) const { return m_daemon.wait_output(text, wait_ms); }
  int digital_modems() {
    f.equal(ask(query(seq())), "success", "query");
    auto const s = m_c->signal(signal_of(LGCP::Signal::query::id));
    return s ? s->get_pdu().get_signal().get_query().get_digital_modems().getValue() : -1;
  }
  // The agent connects and the daemon says so.
  void connect(test::AuthAgent& agent, std::string const& who) {
    f.equal(agent.connect(), "", who + " connects");
    f.check(says(m_prefix + "incoming auth connection from 127.0.0.1:" + std::to_string(agent.port()) + "\n"),
            who + ": the incoming line");
  }
  void activate_six(test::AuthAgent& agent, std::string const& what) {
    f.equal(ask(activate(seq(), 6)), "success", what + ": activate 6");
    f.equal(test::printable(agent.read(16)), test::printable(kAccept), what + ": the accept record");
    f.equal(test::printable(agent.read(36)), test::printable(kIp), what + ": the IP record");
  }
  // A bad length closes the agent's connection.
  void closed_by(test::AuthAgent& agent, std::uint32_t length) {
    int const port = agent.port();
    f.check(agent.send(test::auth_words({length})), "length " + std::to_string(length) + " sent");
    f.check(agent.sees_end(), "length " + std::to_string(length) + ": the agent reads the end");
    f.check(says(m_prefix + "auth client 127.0.0.1:" + std::to_string(port) + " disconnected.\n"),
            "length " + std::to_string(length) + ": the close is logged");
  }

  Daemon& m_daemon;
  test::BoardSimClient& m_board;
  test::Failures& f;
  std::string m_prefix = "modem[4,1]: ";
  test::AuthAgent m_a, m_b;
  std::size_t m_pppd_runs = 0;
};

void DigitalRun::start_up() {
  f.check(says("found point-o-point devices: hdlc0 hdlc1\n"), "the interfaces found at start");
  f.equal(auth_listener_line(), "LISTEN backlog 64", "ss shows the authentication server");
  f.equal(digital_modems(), 2, "query: two digital modems");
  f.equal(ask(create_trunk(seq(), kTrunk, 1, 5)), "success", "the standing trunk slot");
  next_signal(LGCP::Signal::transmitter::id, kTrunk);
  next_signal(LGCP::Signal::receiver::id, kTrunk);
}

void DigitalRun::digital_modem_up() {
  set_mode(kPppd, "hup 0");
  m_board.ok(std::string("set net hdlc0 slotmap ") + kSlotMap);
  f.equal(ask(create_modem(seq(), 3, "777", true)), "success", "create 3 with ddm8BIT");
  std::size_t const before = mark();
  f.equal(digital_modems(), 1, "hdlc0 is held");
  f.check(says("found point-o-point devices: hdlc1\n"), "the query's scan lists only hdlc1");
  f.check(said_since(before).find("hdlc0") == std::string::npos, "without hdlc0: " + said_since(before));

  m_board.ok("clear");
  f.equal(ask(connect_to(seq(), 3, kTrunk)), "success", "connect 3 to the trunk");
  f.equal(before_answer(2), joined({std::string("transmitter ") + kSlotMap, "success"}),
          "the transmitter, then success");
  next_signal(LGCP::Signal::transmitter::id, 3, 0);
  f.check(m_c->quiet(kQuietMs), "nothing more");
  f.equal(next_signal(LGCP::Signal::receiver::id, 3, 0), "none", "no receiver signal");
  f.equal(joined(m_board.requests("net")),
          joined({"/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc0 type=0x1 size=128",
                  "/dev/net ioctl SIOCWANDEV/IF_PROTO_PPP if=hdlc0 type=0x2001 size=4"}),
          "the settings read, then PPP framing");
  f.equal(joined(m_board.requests("hal", "ioctl connect")),
          joined({std::string("/dev/hal ioctl connect output=37 input=") + kSlotMap}), "the switch: {37, 4608}");
  f.equal(joined(m_board.ok("state net hdlc0")), joined({"slotmap=4608 proto=ppp encoding=0 parity=0"}),
          "hdlc0 in PPP");

  ProgramRun const run = wait_run(kPppd, m_pppd_runs++);
  f.equal(joined(run.argv), joined({kPppd, "file", "/usr/local/etc/ppp/ioptions", "hdlc0", "remotenumber", "777"}),
          "the PPP daemon's arguments");
  f.check(says("03:digital-modem: pppd executed cid=\"777\" pid=" + std::to_string(run.pid) + "\n"),
          "the daemon names the pid");
}

void DigitalRun::unplayed_interface() {
  f.equal(ask(create_modem(seq(), 5, "", true)), "success", "create 5 with ddm8BIT");
  m_board.ok("clear");
  f.equal(ask(connect_to(seq(), 5, kTrunk)), kConnectFail, "connect 5: connectFail");
  f.equal(joined(m_board.requests("net")),
          joined({"/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc1 type=0x1 size=128 -> EOPNOTSUPP"}),
          "5 holds hdlc1, which the kernel refuses");
  f.check(says("05:digital-modem: SIOCWANDEV/IF_GET_IFACE fail!\n"), "why");
  f.check(says("slot 05:digital-modem don't have output stream to 04:trunk\n"), "the rule's line");
  f.check(m_c->quiet(kQuietMs), "nothing more");
  f.equal(next_signal(LGCP::Signal::transmitter::id, 5, 0) + next_signal(LGCP::Signal::receiver::id, 5, 0),
          "nonenone", "no signal for 5");
  f.equal(program_runs(kPppd).size(), m_pppd_runs, "no program");
}

void DigitalRun::teardown() {
  int const pid = wait_run(kPppd, 0).pid;
  m_board.ok("clear");
  f.equal(ask(destroy(seq(), 3), 8000), "success", "destroy 3: the delayed success");
  f.equal(wait_pid(kPppd, pid).code, 0, "the program ended on its SIGHUP");
  Strings requests;
  f.check(eventually([&] { return (requests = m_board.requests("net")).size() >= 3; }), "the teardown's requests");
  f.equal(joined(requests),
          joined({"/dev/net ioctl SIOCGIFFLAGS if=hdlc0", "/dev/net ioctl SIOCSIFFLAGS if=hdlc0 flags=0x1090",
                  "/dev/net ioctl SIOCWANDEV/IF_PROTO_HDLC if=hdlc0 type=0x2000 size=4"}),
          "on hdlc0: flags read, written without IFF_UP, raw HDLC");
  f.check(!is_up("hdlc0"), "hdlc0 is down");
  f.equal(joined(m_board.ok("state net hdlc0")), joined({kRawHdlc}), "hdlc0 in raw HDLC, encoding and parity 0");

  auto const sent = Clock::now();
  f.equal(ask(destroy(seq(), 5)), "success", "destroy 5");
  f.check(elapsed_ms(sent) < 1000, "answered at once");
  f.check(eventually([] { return !is_up("hdlc1"); }), "hdlc1 is down");
  f.check(says("05:digital-modem: SIOCWANDEV/IF_PROTO_HDLC fail!\n"), "the kernel refuses raw HDLC on hdlc1");
  f.equal(digital_modems(), 2, "both interfaces are free again");
}

void DigitalRun::agent_traffic() {
  f.equal(ask(create_modem(seq(), 6, "", false, true)), "success", "create 6 for a fax call");
  f.equal(ask(connect_to(seq(), 6, kTrunk)), "success", "connect 6");
  f.equal(before_answer(3), joined({"transmitter 4096", "receiver 4096", "success"}), "6 on modem 0");
  next_signal(LGCP::Signal::transmitter::id, 6, 0);
  next_signal(LGCP::Signal::receiver::id, 6, 0);
  connect(m_a, "agent A");

  std::string const request = test::auth_request(0, "alice", "secret");
  for (auto [at, size] : {std::pair<std::size_t, std::size_t>{0, 2}, {2, 100}, {102, 38}}) {
    f.check(m_a.send(request.substr(at, size)), "a piece of " + std::to_string(size));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, 6), "auth alice/secret", "one request from three pieces");
  f.check(m_c->quiet(kQuietMs), "and no more");
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, 6, 0), "none", "no second one");

  std::string const acct =
      test::auth_words({64, 4, 0, 0, 0, 0, 1, 0, 0, 0xFFFFFFFF, 0x80000000, 1, 0, 5, 3600, 0});
  f.check(m_a.send(acct + request), "accounting and a request in one write");
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, 6), "acct 0,1 -1,0 1,-2147483648 5,0 3600,0", "acct first");
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, 6), "auth alice/secret", "then the request");
  activate_six(m_a, "A");
}

void DigitalRun::bad_records() {
  test::AuthAgent c;
  connect(c, "agent C");
  f.check(c.send(test::auth_request(5, "carol", "c")), "C asks for session 5");
  f.check(says(m_prefix + "receive auth request for unknown session 5\n"), "no slot has session 5");
  f.check(m_c->quiet(kQuietMs), "nothing reaches the controller");
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, -1, 0), "none", "no signal");

  f.check(m_a.send(test::auth_words({8, 1})), "A sends an 8-byte record");
  f.check(says(m_prefix + "auth record too short: 8\n"), "dropped with its line");
  activate_six(m_a, "A, still session 0");

  closed_by(m_a, 513);
  test::AuthAgent d;
  connect(d, "agent D");
  closed_by(d, 3);
}

void DigitalRun::unidentified_agent() {
  connect(m_b, "agent B");
  f.equal(ask(create_modem(seq(), 7, "", true)), "success", "create 7, digital");
  std::size_t const before = mark();
  f.equal(ask(activate(seq(), 7)), "success", "activate 7");
  std::string const unknown = "modem[4,2]: send error: unknown auth 4294967295 session.\n";
  f.check(says(unknown + unknown), "both records find no connection of session -1");
  f.equal(said_since(before).find(unknown + unknown + unknown), std::string::npos, "two lines, no more");
  f.equal(m_b.read(1, 200), "", "B gets nothing");
}

// B holds one of the 256 connections the link keeps; one more is closed at once.
void DigitalRun::agent_cap() {
  m_prefix = "modem[4,2]: ";  // 6 and 7
  std::vector<test::AuthAgent> agents(255);
  for (std::size_t i = 0; i < agents.size(); ++i) connect(agents[i], "agent " + std::to_string(i));
  std::size_t const before = mark();
  test::AuthAgent over;
  f.equal(over.connect(), "", "the 257th connects");
  std::string const refused =
      m_prefix + "auth connection from 127.0.0.1:" + std::to_string(over.port()) + " refused: 256 connections open.\n";
  f.check(over.sees_end(), "and is closed at once");
  f.equal(ask(ping(seq())), "success", "the controller is served");
  f.equal(said_since(before), refused, "one line");
}

void DigitalRun::controller_loss(Controller& next) {
  set_mode(kPppd, "ignore");
  m_board.ok(std::string("set net hdlc0 slotmap ") + kSlotMap);
  f.equal(test::set_link("hdlc0", true), "", "hdlc0 up again");
  f.equal(ask(connect_to(seq(), 7, kTrunk)), "success", "connect 7");
  ProgramRun const run = wait_run(kPppd, m_pppd_runs++);
  f.check(run.pid != 0 && run.argv.size() == 4 && run.argv[3] == "hdlc0", "7's PPP daemon on hdlc0");

  m_c->close();
  f.check(says("07:digital-modem: pppd isn't terminated, killing ...\n", 10000), "the set-aside slot is deleted");
  f.check(eventually([] { return !is_up("hdlc0"); }), "hdlc0 is down");
  f.check(eventually([&] { return m_board.ok("state net hdlc0") == Strings{kRawHdlc}; }), "hdlc0 back in raw HDLC");
  f.check(wait_pid(kPppd, run.pid).hangups >= 1, "the program had its SIGHUP before the SIGKILL");

  f.equal(next.connect(kPort), "", "a new controller");
  m_c = &next;
  std::size_t const before = mark();
  f.equal(digital_modems(), 2, "the lost slot gave hdlc0 back");
  f.check(said_since(before).find("found point-o-point devices: hdlc0 hdlc1\n") != std::string::npos,
          "the query lists both");
}

void DigitalRun::restart() {
  m_c->close();
  f.equal(m_daemon.stop(SIGTERM), "", "SIGTERM with agent B connected: exit 0, no sanitizer report");
  f.check(m_b.sees_end(), "B's connection ends");
  DaemonOptions options;
  options.output_file = "/var/log/daemon-restart";
  Daemon again(options);
  f.equal(again.start(), "", "a restart in the same scene");
  f.equal(auth_listener_line(), "LISTEN backlog 64", "listening again");
  f.equal(again.output().find("fail to bind auth socket: "), std::string::npos, "no bind failure");
  test::AuthAgent e;
  f.equal(e.connect(), "", "an agent connects");
  f.check(again.wait_output("modem[4,0]: incoming auth connection from 127.0.0.1:" + std::to_string(e.port()) + "\n"),
          "and is taken");
  f.equal(again.stop(SIGTERM), "", "the restarted daemon ends cleanly");
}

TEST(DigitalModems, InterfacesAndTheAuthenticationLinkInOneRun) {
  EXPECT_EQ(in_scene(
                []() -> std::string {
                  for (char const* name : {"hdlc0", "hdlc1"})
                    if (std::string const failed = test::make_tun(name); !failed.empty()) return failed;
                  if (std::string const failed = install_modem_programs(); !failed.empty()) return failed;
                  Daemon daemon;
                  if (std::string const failed = daemon.start(); !failed.empty()) return failed;
                  Controller first, second;
                  if (std::string const failed = first.connect(kPort); !failed.empty()) return failed;
                  test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
                  test::Failures f;
                  DigitalRun run(daemon, first, board, f);
                  try {
                    run.start_up();
                    run.digital_modem_up();
                    run.unplayed_interface();
                    run.teardown();
                    run.agent_traffic();
                    run.bad_records();
                    run.unidentified_agent();
                    run.agent_cap();
                    run.controller_loss(second);
                    run.restart();
                  } catch (std::exception const& e) {
                    return f.result() + e.what() + "\n" + daemon.output();
                  }
                  return f.result() + erlang_reads_every_body({&first, &second});
                },
                240),
            "");
}

}  // namespace
