// DSP modem and fax slots against server-sim in one run: the modem controller of the
// stand-in, the modems' terminals as pseudo-terminals, and one program standing in for
// the PPP daemon and both fax programs (tests/programs/modem_program.cpp), whose log
// tells what it was started with and which signals it got. Erlang's codec reads every
// body of the run.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <sys/time.h>

#include "schemas/term.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/modem_messages.h"
#include "tests/e2e/modem_scene.h"
#include "tests/e2e/scene.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;
using Strings = std::vector<std::string>;

constexpr int kTrunk = 4;  // trunk {1,5}: channel 37
constexpr int kQuietMs = 300;

long long wall_ms() {
  timeval now{};
  ::gettimeofday(&now, nullptr);
  return now.tv_sec * 1000LL + now.tv_usec / 1000;
}

int elapsed_ms(Clock::time_point since) {
  return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count());
}

std::size_t occurrences(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A modem create's parameters: ModemCreate("5551234").calling().faxing() ...
struct ModemCreate {
  explicit ModemCreate(std::string calling_number) : cid(std::move(calling_number)) {}
  ModemCreate& calling() { return originate = true, *this; }
  ModemCreate& faxing() { return fax = true, *this; }
  ModemCreate& program(std::string path) { return execfile = std::move(path), *this; }
  ModemCreate& arguments(Strings args) { return execargs = std::move(args), *this; }

  std::string cid;
  bool originate = false, fax = false;
  std::string execfile;
  Strings execargs;
};

LGCP::Message create_modem(int seq, int slot, ModemCreate const& p) {
  return command(seq, slot, [&](LGCP::Command& c) {
    TERM::ModemParams& m = c.select_create().select_modem();
    m.set_cid(p.cid);
    m.set_cdid("");
    if (p.originate) m.set_originate();
    if (p.fax) m.set_fax();
    if (!p.execfile.empty()) m.set_execfile(p.execfile);
    if (!p.execargs.empty()) m.set_execargs();
    for (std::string const& arg : p.execargs) m.ref_execargs().push_back(ASN1::IA5String(arg));
  });
}

LGCP::Message activate_modem(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) {
    TERM::ModemUserParameters& user = c.select_activate().select_modem();
    user.set_remoteAddr("10.1.0.2");
    user.set_netmask("255.255.255.252");
    user.set_gateway("10.1.0.1");
    user.set_dns("10.1.0.53");
    user.set_mtu(1500);
  });
}

// The run: the daemon, its controller, its stand-in, the terminals; each step a member.
class ModemRun : public ModemTalk {
public:
  ModemRun(Daemon& daemon, Controller& c, test::BoardSimClient& board, ModemTerminals& terminals, test::Failures& f)
      : ModemTalk(c), m_daemon(daemon), m_board(board), m_terminals(terminals), f(f) {}

  // Connects slot to the standing trunk and expects its modem set up on `timeslot`.
  void connect_set_up(int slot, int timeslot, std::string const& what) {
    f.equal(ask(connect_to(seq(), slot, kTrunk)), "success", what + ": connect");
    std::string const ts = std::to_string(timeslot);
    f.equal(before_answer(3), joined({"transmitter " + ts, "receiver " + ts, "success"}),
            what + ": transmitter, then receiver, then the answer");
    next_signal(LGCP::Signal::transmitter::id, slot, 0);
    next_signal(LGCP::Signal::receiver::id, slot, 0);
  }
  std::string mctl_state(int modem) {
    auto const lines = m_board.ok("state mctl");
    return static_cast<std::size_t>(modem) < lines.size() ? lines[static_cast<std::size_t>(modem)] : "";
  }
  // Reads terminal n until the line comes; false when it does not.
  bool terminal_says(unsigned n, std::string const& line) {
    for (std::string got; !(got = m_terminals.next_line(n)).empty();)
      if (got == line) return true;
    return false;
  }
  std::size_t output_count(std::string const& part) { return occurrences(m_daemon.output(), part); }

  void query();
  void first_connect();
  void activate();
  void deferred_destroy();
  void destroy_right_after_connect();
  void own_exit();
  void terminate_time_out();
  void failed_set_up();
  void fax_sender();
  void fax_receiver();
  void controller_loss(Controller& next);

private:
  Daemon& m_daemon;
  test::BoardSimClient& m_board;
  ModemTerminals& m_terminals;
  test::Failures& f;
  std::size_t m_pppd_runs = 0;  // starts of the PPP daemon so far
  int m_pppd_pid = 0;           // the last one's pid

  ProgramRun next_pppd(std::string const& what) {
    ProgramRun const run = wait_run(kPppd, m_pppd_runs);
    f.check(run.pid != 0, what + ": the PPP daemon starts");
    if (run.pid) {
      ++m_pppd_runs;
      m_pppd_pid = run.pid;
    }
    return run;
  }
};

void ModemRun::query() {
  f.equal(ask(create_trunk(seq(), kTrunk, 1, 5)), "success", "the standing trunk slot");
  next_signal(LGCP::Signal::transmitter::id, kTrunk);
  next_signal(LGCP::Signal::receiver::id, kTrunk);
  f.equal(ask(e2e::query(seq())), "success", "query");
  auto const s = m_c->signal(signal_of(LGCP::Signal::query::id));
  f.check(s.has_value(), "the resources report");
  if (!s) return;
  LGCP::Resources const& r = s->get_pdu().get_signal().get_query();
  f.equal(r.get_modem().getValue(), 4, "the stand-in's four modems");
  f.equal(r.get_digital_modems().getValue(), 0, "no digital modem");
}

void ModemRun::first_connect() {
  set_mode(kPppd, "hup 0");
  m_board.ok("clear");
  f.equal(ask(create_modem(seq(), 3, ModemCreate("5551234"))), "success", "create 3");
  f.check(m_c->quiet(kQuietMs), "the create is answered, nothing else");
  connect_set_up(3, 4096, "3 to the trunk");
  f.equal(joined(m_board.requests("mctl")),
          joined({"/dev/mctl open flags=O_RDONLY", "/dev/mctl ioctl allocate value=0x0 result=0",
                   "/dev/mctl ioctl get-timeslot value=0x0 result=4096", "/dev/mctl ioctl reset-dmp modem=0 arg=-1",
                   "/dev/mctl ioctl answer modem=0 arg=-1"}),
          "the modem's set-up");
  f.equal(joined(m_board.requests("hal", "ioctl connect")), joined({"/dev/hal ioctl connect output=37 input=4096"}),
          "the modem feeds the trunk");

  ProgramRun const run = next_pppd("the first connect");
  f.equal(joined(run.argv),
          joined({kPppd, "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm0", "remotenumber", "5551234"}),
          "the PPP daemon's arguments");
  f.check(terminal_says(0, std::string(kPppd) + " " + std::to_string(run.pid)), "it wrote on /dev/mdm0");
  f.check(m_daemon.wait_output("03:dsp-modem: pppd executed cid=\"5551234\" pid=" + std::to_string(run.pid) + "\n"),
          "the daemon names the pid");

  m_board.ok("clear");
  f.equal(ask(connect_to(seq(), kTrunk, 3)), "success", "the trunk to 3");
  f.equal(joined(m_board.requests("mctl")), "", "the input finds the modem set up");
  f.equal(joined(m_board.requests("hal", "ioctl connect")), joined({"/dev/hal ioctl connect output=4096 input=37"}),
          "the trunk feeds the modem");
  f.equal(program_runs(kPppd).size(), 1u, "the PPP daemon ran once");
}

void ModemRun::activate() {
  f.equal(ask(activate_modem(seq(), 3)), "success", "activate 3 with modem parameters");
  f.check(m_daemon.wait_output("modem[4,1]: send error: unknown auth 0 session.\n"
                               "modem[4,1]: send error: unknown auth 0 session.\n"),
          "both records find no agent");
  f.equal(ask(command(seq(), 3, [](LGCP::Command& c) { c.select_activate().select_empty(); })),
          "error " + std::to_string(LGCP::ErrorCause::unsupported), "activate 3 without parameters");
  f.check(m_daemon.wait_output("03:dsp-modem: modem's activation requests parameter.\n"), "and says why");
}

void ModemRun::deferred_destroy() {
  int const destroy_seq = seq();
  m_c->send(destroy(destroy_seq, 3));
  auto const r = m_c->response(destroy_seq, 8000);
  f.check(r && is_success(*r), "the destroy of 3 is answered success");
  if (r) f.check(r->slot_isPresent() && r->get_slot().getValue() == 3u, "for slot 3");
  f.equal(wait_pid(kPppd, m_pppd_pid).hangups, 1, "the program had its SIGHUP before the answer");
  std::string const said = m_daemon.output();
  auto const hup = said.find("03:dsp-modem: sent HUP to pppd.\n");
  auto const end = said.find("03:dsp-modem: pppd terminated with code 0\n");
  f.check(hup != std::string::npos && end != std::string::npos && hup < end, "HUP, then the end:\n" + said);
  // The answer goes before the slot, and its device with it.
  f.check(e2e::eventually([&] { return mctl_state(0).find(" free ") != std::string::npos; }),
          "modem 0 is free: " + mctl_state(0));
}

void ModemRun::destroy_right_after_connect() {
  for (int i = 0; i < 30; ++i) {
    f.equal(ask(create_modem(seq(), 3, ModemCreate("5551234"))), "success", "cycle " + std::to_string(i) + ": create");
    f.equal(ask(connect_to(seq(), 3, kTrunk)), "success", "cycle " + std::to_string(i) + ": connect");
    auto const sent = Clock::now();
    std::string const answer = ask(destroy(seq(), 3), 3000);
    int const took = elapsed_ms(sent);
    f.equal(answer, "success", "cycle " + std::to_string(i) + ": destroy");
    f.check(took <= 1000, "cycle " + std::to_string(i) + ": the destroy took " + std::to_string(took) + " ms");
  }
  m_pppd_runs = program_runs(kPppd).size();
  f.equal(output_count("pppd terminate timeout!"), 0u, "no destroy waited for the time-out");
}

void ModemRun::own_exit() {
  set_mode(kPppd, "exit 1");
  f.equal(ask(create_modem(seq(), 5, ModemCreate("").calling())), "success", "create 5, calling");
  connect_set_up(5, 4096, "5 to the trunk");
  ProgramRun const run = next_pppd("slot 5");
  f.equal(joined(run.argv), joined({kPppd, "file", "/usr/local/etc/ppp/coptions", "/dev/mdm0"}), "no remote number");
  f.equal(next_signal(LGCP::Signal::abort::id, 5), "abort 256", "exit code 1 as the abort cause");
  f.check(m_daemon.wait_output("05:dsp-modem: pppd terminated with code 256\n"), "the end is logged");
  auto const sent = Clock::now();
  f.equal(ask(destroy(seq(), 5)), "success", "destroy 5");
  f.check(elapsed_ms(sent) < 1000, "answered at once");
}

void ModemRun::terminate_time_out() {
  set_mode(kPppd, "ignore");
  ModemCreate params("1");
  for (int i = 1; i <= 70; ++i) params.execargs.push_back("a" + std::to_string(i));
  f.equal(ask(create_modem(seq(), 6, params)), "success", "create 6 with 70 arguments");
  connect_set_up(6, 4096, "6 to the trunk");
  ProgramRun const run = next_pppd("slot 6");
  f.equal(run.argv.size(), 63u, "the program and 62 arguments");
  if (!run.argv.empty()) f.equal(run.argv.back(), "a62", "the last one passed");

  auto const sent = Clock::now();
  std::string const answer = ask(destroy(seq(), 6), 8000);
  int const took = elapsed_ms(sent);
  f.equal(answer, "success", "the destroy of 6 is answered");
  f.check(took >= 4900 && took <= 8000, "after the time-out: " + std::to_string(took) + " ms");
  std::string const said = m_daemon.output();
  f.check(said.find("06:dsp-modem: pppd terminate timeout!\n") != std::string::npos, "the time-out is logged");
  f.equal(occurrences(said, "pppd isn't terminated, killing ..."), 1u, "killed once");
  f.check(m_daemon.wait_output("terminate child process, pid=" + std::to_string(run.pid) + " status=9\n"),
          "the killed program is reaped");
  f.equal(wait_pid(kPppd, run.pid).hangups, 1, "the program had one SIGHUP");
}

void ModemRun::failed_set_up() {
  set_mode(kPppd, "hup 0");
  m_board.ok("fail mctl ioctl allocate EBUSY once");
  f.equal(ask(create_modem(seq(), 7, ModemCreate("777"))), "success", "create 7");
  f.equal(ask(connect_to(seq(), 7, kTrunk)), "error " + std::to_string(LGCP::ErrorCause::connectFail),
          "no modem: connectFail");
  f.equal(before_answer(2), joined({"abort 16", "error " + std::to_string(LGCP::ErrorCause::connectFail)}),
          "the abort first");
  next_signal(LGCP::Signal::abort::id, 7, 0);
  f.check(m_c->quiet(kQuietMs), "nothing more");
  f.equal(next_signal(LGCP::Signal::transmitter::id, 7, 0) + next_signal(LGCP::Signal::receiver::id, 7, 0),
          "nonenone", "no stream signal for 7");
  f.check(m_daemon.wait_output("07:dsp-modem: insufficient resources : Device or resource busy\n"), "why");
  f.check(m_daemon.wait_output("slot 07:dsp-modem don't have output stream to 04:trunk\n"), "the rule's line");
  connect_set_up(7, 4096, "the next connect of 7");
  ProgramRun const seven = next_pppd("slot 7");

  // An exec that fails leaves 7's program alone.
  f.equal(ask(create_modem(seq(), 11, ModemCreate("").program("/usr/local/sbin/absent"))), "success", "create 11");
  connect_set_up(11, 4097, "11 to the trunk");
  f.equal(next_signal(LGCP::Signal::abort::id, 11), "abort 512", "exit status 2 from the child");
  f.check(m_daemon.wait_output("11:dsp-modem: pppd terminated with code 512\n"), "the failed start is logged");
  f.equal(ask(ping(seq())), "success", "the daemon serves on");
  ProgramRun const now = wait_pid(kPppd, seven.pid);
  f.check(now.hangups == 0 && !now.exited, "7's program runs on, unsignalled");
}

void ModemRun::fax_sender() {
  set_mode(kFaxSender, "exit 4");
  f.equal(ask(create_modem(seq(), 8, ModemCreate("").faxing().arguments({"p1.tif", "p2.tif"}))), "success", "create fax 8");
  connect_set_up(8, 4098, "8 to the trunk");
  ProgramRun const run = wait_run(kFaxSender, 0);
  f.equal(joined(run.argv), joined({kFaxSender, "-m", "2", "p1.tif", "p2.tif"}), "the fax sender's arguments");
  f.check(m_daemon.wait_output("executing fax transfer\n"), "the child's line");
  f.check(m_daemon.wait_output("08:dsp-modem: fax transfer executed modem=2 ts=4098\n"), "the start line");
  f.equal(next_signal(LGCP::Signal::modemProceeding::id, 8), "acct 0,0 4,0 0,0 0,0 0,0", "four pages");
  f.equal(next_signal(LGCP::Signal::abort::id, 8), "abort 1024", "exit code 4 as the abort cause");
  f.check(m_daemon.wait_output("08:dsp-modem: fax terminated with code 1024\n08:dsp-modem: pages received: 4\n"),
          "the end and the pages");
  f.check(e2e::eventually([&] { return mctl_state(2).find(" free ") != std::string::npos; }),
          "the fax took modem 2 from the slot: " + mctl_state(2));
  f.equal(ask(command(seq(), 8, [](LGCP::Command& c) { c.select_activate().select_empty(); })),
          "error " + std::to_string(LGCP::ErrorCause::unsupported), "slot 8 stays");

  set_mode(kFaxSender, "hup 3");
  f.equal(ask(create_modem(seq(), 12, ModemCreate("").faxing().arguments({"p3.tif"}))), "success", "create fax 12");
  connect_set_up(12, 4098, "12 to the trunk");
  f.check(wait_run(kFaxSender, 1).pid != 0, "the second sender starts");
  std::string const answer = ask(destroy(seq(), 12), 8000);
  f.equal(before_answer(2), joined({"acct 0,0 3,0 0,0 0,0 0,0", "success"}), "the pages, then the delayed answer");
  f.equal(answer, "success", "the destroy of 12");
  f.equal(next_signal(LGCP::Signal::abort::id, 12, kQuietMs), "none", "no abort while destroyed");
}

void ModemRun::fax_receiver() {
  set_mode(kFaxReceiver, "exit 0");
  f.equal(ask(create_modem(seq(), 9, ModemCreate("").faxing())), "success", "create fax receiver 9");
  std::time_t const before = std::time(nullptr);
  long long const connected_ms = wall_ms();
  connect_set_up(9, 4098, "9 to the trunk");
  std::time_t const after = std::time(nullptr);
  auto const sent = Clock::now();
  f.equal(ask(destroy(seq(), 9)), "success", "destroy 9");
  f.check(elapsed_ms(sent) < 1000, "the receiver is not waited for");

  ProgramRun const run = wait_run(kFaxReceiver, 0);
  f.check(run.ms - connected_ms >= 1000, "the receiver starts a second after the connect: " +
                                             std::to_string(run.ms - connected_ms) + " ms");
  bool named = false;
  for (std::time_t t = before; t <= after; ++t) {
    std::tm local{};
    ::localtime_r(&t, &local);
    char file[64];
    std::strftime(file, sizeof file, "/var/fax-%H-%M-%S.g3", &local);
    named = named || run.argv == Strings({kFaxReceiver, "-m", "2", "receive", file});
  }
  f.check(named, "the receiver's arguments, its file named at the connect: " +
                     (run.argv.empty() ? std::string("none") : run.argv.back()));
  f.check(m_daemon.wait_output("\nexecuting\n"), "the child's line");
  f.check(m_daemon.wait_output("09:dsp-modem: fax receiver executed modem=2 ts=4098\n"), "the start line");
}

void ModemRun::controller_loss(Controller& next) {
  // 7's PPP daemon ends on the table's SIGHUP, 13's ignores it: both slots are set aside.
  set_mode(kPppd, "ignore");
  f.equal(ask(create_modem(seq(), 13, ModemCreate(""))), "success", "create 13");
  connect_set_up(13, 4098, "13 to the trunk");
  next_pppd("slot 13");
  std::size_t const lost = m_daemon.output().size();
  m_c->close();
  f.check(m_daemon.wait_output("13:dsp-modem: pppd isn't terminated, killing ...\n", 10000),
          "the set-aside slot whose program runs is deleted");
  std::string const said = m_daemon.output().substr(lost);
  f.check(said.find("07:dsp-modem: pppd terminated with code 0\n") != std::string::npos,
          "7's program is known to have ended within the pause");
  f.equal(occurrences(said, "pppd isn't terminated, killing ..."), 1u, "only 13's program is killed");
  std::size_t const before = m_daemon.output().size();
  f.equal(next.connect(kPort), "", "a new controller");
  m_c = &next;
  f.equal(ask(create_trunk(seq(), kTrunk, 1, 5)), "success", "the trunk again");
  f.equal(ask(create_modem(seq(), 3, ModemCreate(""))), "success", "create 3");
  connect_set_up(3, 4096, "3 to the trunk");
  next_pppd("the new controller's slot");
  f.equal(ask(activate_modem(seq(), 3)), "success", "activate 3");
  f.check(m_daemon.wait_output("modem[4,1]: send error: unknown auth 0 session.\n"), "one live modem slot");
  f.check(m_daemon.output().find("modem[4,1]", before) != std::string::npos, "after the loss");
}

TEST(Modems, DspModemsAndFaxInOneRun) {
  EXPECT_EQ(in_scene(
                []() -> std::string {
                  ModemTerminals terminals;
                  if (std::string const failed = terminals.make(); !failed.empty()) return failed;
                  if (std::string const failed = install_modem_programs(); !failed.empty()) return failed;
                  Daemon daemon;
                  if (std::string const failed = daemon.start(); !failed.empty()) return failed;
                  Controller first, second;
                  if (std::string const failed = first.connect(kPort); !failed.empty()) return failed;
                  test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
                  test::Failures f;
                  ModemRun run(daemon, first, board, terminals, f);
                  // A link that breaks says why, and what the daemon said up to then.
                  try {
                    run.query();
                    run.first_connect();
                    run.activate();
                    run.deferred_destroy();
                    run.destroy_right_after_connect();
                    run.own_exit();
                    run.terminate_time_out();
                    run.failed_set_up();
                    run.fax_sender();
                    run.fax_receiver();
                    run.controller_loss(second);
                  } catch (std::exception const& e) {
                    return f.result() + e.what() + "\n" + daemon.output();
                  }
                  second.close();
                  f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");

                  return f.result() + erlang_reads_every_body({&first, &second});
                },
                240),
            "");
}

}  // namespace
