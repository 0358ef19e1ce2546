// The modem factory's pool of HDLC interfaces and its authentication link. The factory
// is made once per process, listens on 127.0.0.1:52000 and scans the interfaces of its
// network namespace: every test runs in a child of its own, in a namespace of its own
// holding the tun (or tap) devices it names. The agents are real TCP clients on
// loopback, the controller the slot table's end of a socket pair, and the stand-in plays
// the modem controller and the interfaces.

#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>

#include "schemas/base.h"
#include "server/control_server.h"
#include "server/slots.h"
#include "slots/modem/auth_client.h"
#include "slots/modem/hdlc_modem_slot.h"
#include "slots/modem/modem_factory.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/controller_end.h"
#include "tests/slots/slot_table_fixture.h"
#include "tests/support/auth_agent.h"
#include "tests/support/fake_clock.h"
#include "tests/support/own_process.h"
#include "tests/support/private_network.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/switch_board.h"
#include "tests/support/test_files.h"

namespace {

using Mode = TERM::DigitalDataModeEnum;
using Strings = std::vector<std::string>;

constexpr int kTrunkSlot = 1;  // trunk 0, timeslot 1: channel 1

struct Device {
  std::string name;
  bool tap = false;
};

// Runs body in a child of its own, in a network namespace of its own holding `devices`.
std::string in_network(std::vector<Device> const& devices, std::function<std::string()> const& body) {
  return test::in_own_process([&]() -> std::string {
    if (std::string const failed = test::enter_private_network(); !failed.empty()) return failed;
    for (Device const& d : devices)
      if (std::string const failed = test::make_tun(d.name, d.tap); !failed.empty()) return failed;
    return body();
  });
}

std::string joined(Strings const& lines) {
  std::string text;
  for (std::string const& line : lines) text += line + "\n";
  return text;
}

// "<slot> <what>": success, error <cause>, transmitter <channel>, receiver <channel>,
// abort <cause>, auth <user>/<password>, acct <low,high of each counter>.
std::string text_of(LGCP::Message const& m) {
  std::string const slot = m.slot_isPresent() ? std::to_string(m.get_slot().getValue()) + " " : "- ";
  if (!m.get_pdu().signal_isSelected())
    return slot + (lgcp_test::is_success(m) ? "success" : "error " + std::to_string(lgcp_test::error_of(m)));
  LGCP::Signal const& s = m.get_pdu().get_signal();
  if (s.transmitter_isSelected())
    return slot + "transmitter " + std::to_string(s.get_transmitter().get_active().getValue());
  if (s.receiver_isSelected()) return slot + "receiver " + std::to_string(s.get_receiver().get_active().getValue());
  if (s.abort_isSelected()) return slot + "abort " + std::to_string(s.get_abort().getValue());
  if (s.query_isSelected()) return slot + "query";
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().auth_isSelected()) {
    TERM::MdmRequestUserAuth const& a = s.get_modemProceeding().get_auth();
    return slot + "auth " + std::string(a.get_username()) + "/" + std::string(a.get_password());
  }
  if (s.modemProceeding_isSelected() && s.get_modemProceeding().acct_isSelected()) {
    TERM::MdmAccounting const& a = s.get_modemProceeding().get_acct();
    std::string text = slot + "acct";
    for (BASE::INTEGER64Bits const* v :
         {&a.get_octetsOut(), &a.get_octetsIn(), &a.get_packetsOut(), &a.get_packetsIn(), &a.get_time()})
      text += " " + std::to_string(v->get_low().getValue()) + "," + std::to_string(v->get_high().getValue());
    return text;
  }
  return slot + "signal " + std::to_string(s.currentSelection());
}

// The loop on simulated time, the captured streams, the shared stand-in, the slot table
// bound to a control server with its controller's end, and the factory, made last.
struct Link : test::SlotTable {
  ModemFactory& factory;
  int seq = 0;

  Link() : factory(made_after_the_link()) {}

  ModemFactory& made_after_the_link() {
    streams.clear();
    return ModemFactory::instance();
  }

  // The texts of what came back for the command: its answer and the signals with it.
  std::string ask(int slot, std::function<void(LGCP::Command&)> const& fill, std::size_t expected = 1) {
    Strings texts;
    for (LGCP::Message const& m : controller.exchange(test_server::command(++seq, slot, fill), expected))
      texts.push_back(text_of(m));
    return joined(texts);
  }
  std::string create_modem(int slot, std::vector<Mode::NamedNumber> const* ddm, bool fax_call = false) {
    return ask(slot, [&](LGCP::Command& c) {
      TERM::ModemParams& p = c.select_create().select_modem();
      p.set_cid("777");
      p.set_cdid("");
      if (fax_call) {
        p.set_fax();
        p.set_originate();
      }
      if (!ddm) return;
      p.set_ddm();
      for (Mode::NamedNumber mode : *ddm) p.ref_ddm().push_back(Mode(mode));
    });
  }
  std::string create_trunk() {
    return ask(kTrunkSlot, [](LGCP::Command& c) {
      auto& trunk = c.select_create().select_trunk();
      trunk.set_trunk(0);
      trunk.set_timeslot(1);
    }, 3);
  }
  std::string connect(int from, int to, std::size_t expected) {
    return ask(from, [&](LGCP::Command& c) { c.select_connect(static_cast<unsigned>(to)); }, expected);
  }
  std::string destroy(int slot) {
    return ask(slot, [](LGCP::Command& c) { c.select_destroy(); });
  }
  std::string activate(int slot) {
    return ask(slot, [](LGCP::Command& c) {
      TERM::ModemUserParameters& user = c.select_activate().select_modem();
      user.set_remoteAddr("10.0.0.2");
      user.set_netmask("255.255.255.0");
      user.set_gateway("10.0.0.1");
      user.set_dns("nonsense");
      user.set_mtu(1500);
    });
  }
  // The resources report's digital-modems.
  int digital_modems() {
    controller.send(test_server::command(++seq, -1, [](LGCP::Command& c) { c.select_query(); }));
    for (LGCP::Message const& m : controller.receive(2))
      if (m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().query_isSelected())
        return m.get_pdu().get_signal().get_query().get_digital_modems().getValue();
    return -1;
  }
  // A DSP modem slot set up on the next modem, for a fax call: no program starts.
  std::string dsp_slot(int slot) {
    std::string const created = create_modem(slot, nullptr, true);
    return created + connect(slot, kTrunkSlot, 3);
  }
  // Runs the loop until `done`, or a second of loop time.
  static bool until(std::function<bool()> const& done) { return test::run_until(done, 1000); }
  // Whatever reached the controller without being asked for, as texts.
  std::string signals() {
    until([] { return false; });
    Strings texts;
    for (LGCP::Message const& m : controller.pending()) texts.push_back(text_of(m));
    return joined(texts);
  }
  // An agent that the factory has taken.
  bool take(test::AuthAgent& agent, int receive_buffer = 0) {
    std::size_t const before = factory.auth_clients().size();
    return agent.connect(test::kAuthPort, receive_buffer).empty() &&
           until([&] { return factory.auth_clients().size() > before; });
  }
  // Bytes from the agent, as far as the factory has read them.
  bool tell(test::AuthAgent& agent, std::string const& bytes) {
    bool const sent = agent.send(bytes) && agent.delivered();
    until([] { return false; });
    return sent;
  }
  // The log stream without the loop's own lines.
  std::string log() {
    std::istringstream lines(streams.log());
    std::string text;
    for (std::string line; std::getline(lines, line);)
      if (line != "Mux: terminating...") text += line + "\n";
    return text;
  }
  // The stand-in's log of the interfaces, without times.
  static std::string net_requests() {
    Strings requests;
    for (auto const& r : test::switch_board().requests("/dev/net")) {
      std::ostringstream line;
      line << r;
      requests.push_back(line.str().substr(line.str().find(' ') + 1));
    }
    return joined(requests);
  }
  std::string err() {
    std::string const text = streams.err();
    streams.clear();
    return text;
  }
};

// The two records an activation with Link::activate's parameters sends: accept, then IP
// (remote 10.0.0.2, mask 255.255.255.0, gateway 10.0.0.1, a DNS address that does not
// parse: all ones; the addresses in network order, the MTU of 1500 in the host's).
std::string activation_records(std::uint32_t session) {
  std::string const accept = test::auth_words({16, 2, session, 1});
  std::string ip = test::auth_words({36, 3, session, 0});
  ip += std::string("\x0a\x00\x00\x02\xff\xff\xff\x00\x0a\x00\x00\x01\xff\xff\xff\xff", 16);
  ip += test::auth_words({1500});
  return accept + ip;
}

// Whether a connection of port 52000 is in TIME_WAIT (state 06 of /proc/net/tcp), within
// a second.
bool time_wait_on_auth_port() {
  for (int tries = 0; tries < 1000; ++tries) {
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    while (std::getline(tcp, line)) {
      std::istringstream in(line);
      std::string slot, local, remote, state;
      in >> slot >> local >> remote >> state;
      if (local.ends_with(":CB20") && state == "06") return true;
    }
    ::usleep(1000);
  }
  return false;
}

std::vector<Mode::NamedNumber> const kDigital = {Mode::ddm8BIT};
std::vector<Mode::NamedNumber> const kNoModes = {};

// A test in a network namespace of its own with `devices`, on a Link made there.
std::string on_link(std::vector<Device> const& devices, std::function<void(Link&, test::Failures&)> const& body) {
  return in_network(devices, [&] {
    test::Failures f;
    Link l;
    body(l, f);
    return f.result();
  });
}

TEST(ModemPool, TheScanStopsAtTheFirstGapAndSkipsWhatIsNotPointToPoint) {
  EXPECT_EQ(on_link({{"hdlc0"}, {"hdlc1"}, {"hdlc3"}}, [](Link& l, test::Failures& f) {
    f.equal(l.log(), "found point-o-point devices: hdlc0 hdlc1\n", "the scan at start");
    f.equal(joined(l.factory.free_interfaces()), "hdlc0\nhdlc1\n", "hdlc3 lies past the gap");
    // Requests for each name scanned, the first failure ending it.
    test::switch_board().clear_requests();
    l.factory.update_hdlcDevices();
    f.equal(l.net_requests(),
            joined({"/dev/net ioctl SIOCGIFINDEX if=hdlc0", "/dev/net ioctl SIOCGIFFLAGS if=hdlc0",
                    "/dev/net ioctl SIOCGIFINDEX if=hdlc1", "/dev/net ioctl SIOCGIFFLAGS if=hdlc1",
                    "/dev/net ioctl SIOCGIFINDEX if=hdlc2 -> ENODEV"}),
            "the scan's requests");

    f.equal(test::make_tun("hdlc2", true), "", "a tap device as hdlc2");
    l.streams.clear();
    f.equal(l.digital_modems(), 3, "hdlc0, hdlc1 and hdlc3");
    f.equal(l.log(), "found point-o-point devices: hdlc0 hdlc1 hdlc3\n",
            "the tap is no point-to-point device");
  }), "");
}

TEST(ModemPool, HeldInterfacesStayOutAndComeBackOnceAtTheEnd) {
  EXPECT_EQ(on_link({{"hdlc0"}, {"hdlc1"}, {"hdlc2"}}, [](Link& l, test::Failures& f) {
    f.equal(l.create_modem(3, &kDigital), "3 success\n", "create 3 with ddm8BIT");
    auto* const three = dynamic_cast<HdlcModemSlot*>(Slots::instance().Get(3));
    f.check(three && three->deviceName() == "hdlc0", "3 is a digital modem on hdlc0");
    f.equal(joined(l.factory.free_interfaces()), "hdlc1\nhdlc2\n", "hdlc0 is taken");
    l.streams.clear();
    f.equal(l.digital_modems(), 2, "a query rescans");
    f.equal(l.log(), "found point-o-point devices: hdlc1 hdlc2\n", "without what 3 holds");
    f.equal(l.digital_modems(), 2, "and again");

    f.equal(l.create_modem(4, &kNoModes), "4 success\n", "create 4 with an empty ddm");
    f.equal(Slots::instance().Get(4)->GetName(), "dsp-modem", "an empty ddm: a DSP modem");
    f.equal(l.create_modem(5, &kDigital), "5 success\n", "5 on hdlc1");
    f.equal(l.create_modem(6, &kDigital), "6 success\n", "6 on hdlc2");
    f.equal(l.create_modem(7, &kDigital), "7 success\n", "create 7");
    f.equal(Slots::instance().Get(7)->GetName(), "dsp-modem", "no interface left: a DSP modem");
    f.equal(l.digital_modems(), 0, "all held");

    f.equal(l.destroy(5), "5 success\n", "destroy 5 (hdlc1)");
    f.equal(l.destroy(3), "3 success\n", "destroy 3 (hdlc0)");
    f.equal(joined(l.factory.free_interfaces()), "hdlc1\nhdlc0\n", "each given back once, at the end");
    f.equal(l.digital_modems(), 2, "the next query");
    f.equal(joined(l.factory.free_interfaces()), "hdlc0\nhdlc1\n", "in the host's order again");

    // A slot deleted without its release still gives its interface back.
    LGCP::CreateParams params;
    TERM::ModemParams& p = params.select_modem();
    p.set_cid("");
    p.set_cdid("");
    p.set_ddm();
    p.ref_ddm().push_back(Mode(Mode::ddmV110));
    Slot* const lost = l.factory.NewSlot(params);
    f.equal(joined(l.factory.free_interfaces()), "hdlc1\n", "hdlc0 taken again");
    l.factory.Remove(lost);
    delete lost;
    f.equal(joined(l.factory.free_interfaces()), "hdlc1\nhdlc0\n", "and given back by the delete");
    f.equal(l.factory.modem_slots().size(), 3u, "the deleted slot is gone from the factory (4, 6 and 7 stay)");
  }), "");
}

TEST(DigitalModem, AStreamIsClaimedOnlyOnceTheChannelIsKnown) {
  EXPECT_EQ(on_link({{"hdlc0"}, {"hdlc1"}}, [](Link& l, test::Failures& f) {
    f.equal(l.create_trunk(), "1 success\n1 transmitter 1\n1 receiver 1\n", "the trunk slot");
    f.equal(l.create_modem(3, &kDigital), "3 success\n", "3 on hdlc0");
    f.equal(l.create_modem(5, &kDigital), "5 success\n", "5 on hdlc1");
    l.err();

    // hdlc1 is no HDLC device: the kernel refuses its settings.
    f.equal(l.connect(5, kTrunkSlot, 1), "5 error " + std::to_string(LGCP::ErrorCause::connectFail) + "\n",
            "no channel, no stream");
    f.equal(l.err(),
            "05:digital-modem: SIOCWANDEV/IF_GET_IFACE fail!\n"
            "slot 05:digital-modem don't have output stream to 01:trunk\n",
            "why");
    f.equal(Slots::instance().Get(5)->GetTransmitChannel(), -1, "5 has no channel");

    // A failure once the channel is known leaves the stream up, without a daemon.
    f.check(test::switch_board().command("/dev/net", "set", {"hdlc0", "slotmap", "4608"}).error.empty(),
            "the stand-in plays hdlc0");
    test::switch_board().fail("/dev/net", "ioctl SIOCWANDEV/IF_PROTO_PPP", EIO, BoardSim::Repeat::once);
    test::switch_board().clear_requests();
    f.equal(l.connect(3, kTrunkSlot, 2), "3 transmitter 4608\n3 success\n", "3 to the trunk");
    f.equal(l.err(), "03:digital-modem: SIOCWANDEV/IF_PROTO_PPP fail!\n", "logged only");
    f.equal(l.net_requests(),
            joined({"/dev/net ioctl SIOCWANDEV/IF_GET_IFACE if=hdlc0 type=0x1 size=128",
                    "/dev/net ioctl SIOCWANDEV/IF_PROTO_PPP if=hdlc0 type=0x2001 size=4 -> EIO"}),
            "the requests");
    auto* const three = dynamic_cast<ModemSlot*>(Slots::instance().Get(3));
    f.check(three && !three->pppd_executing(), "no daemon");
  }), "");
}

// Agent A on a DSP modem slot (modem 0) set up for a fax call.
struct AuthLink : Link {
  test::AuthAgent a;
  bool ready = false;
  AuthLink() {
    ready = create_trunk() == "1 success\n1 transmitter 1\n1 receiver 1\n" &&
            dsp_slot(6) == "6 success\n6 transmitter 4096\n6 receiver 4096\n6 success\n" && take(a);
    err();
  }
};

// A test of the link in a network namespace of its own with `devices`: slot 6 and
// agent A ready, then the body's checks.
std::string on_auth_link(std::vector<Device> const& devices,
                         std::function<void(AuthLink&, test::Failures&)> const& body) {
  return in_network(devices, [&] {
    test::Failures f;
    AuthLink l;
    f.check(l.ready, "slot 6 and agent A");
    if (l.ready) body(l, f);
    return f.result();
  });
}

TEST(AuthLink, RecordsAreTakenWholeFromAnyPiecesAndTwoInOneWriteAreBoth) {
  EXPECT_EQ(on_auth_link({}, [](AuthLink& l, test::Failures& f) {
    f.check(l.streams.log().find("incoming auth connection") == std::string::npos, "not on the log stream");
    std::string const request = test::auth_request(0, "alice", "secret");
    f.equal(l.tell(l.a, request.substr(0, 2)) && l.tell(l.a, request.substr(2, 100)), true, "2 and 100 bytes");
    f.equal(l.signals(), "", "nothing yet");
    f.equal(l.tell(l.a, request.substr(102)), true, "the last 38");
    f.equal(l.signals(), "6 auth alice/secret\n", "one record");

    std::string const acct =
        test::auth_accounting(0, {0, 0, 0, 1, 0, 0, 0xFFFFFFFF, 0x80000000, 1, 0, 5, 3600, 0});
    f.equal(l.tell(l.a, acct + test::auth_request(0, "bob", "pw")), true, "two records in one write");
    f.equal(l.signals(), "6 acct 0,1 -1,0 1,-2147483648 5,0 3600,0\n6 auth bob/pw\n", "both, in order");
    f.equal(l.err(), "", "nothing refused");
  }), "");
}

TEST(AuthLink, ABadLengthClosesTheConnectionAndAShortRecordIsDropped) {
  EXPECT_EQ(on_auth_link({}, [](AuthLink& l, test::Failures& f) {
    std::string const header = "modem[4,1]: ";
    f.equal(l.tell(l.a, test::auth_request(0, "alice", "secret")), true, "a request for session 0");
    f.equal(l.signals(), "6 auth alice/secret\n", "delivered");
    // Bytes 4-11 would be the last record's type and session.
    f.equal(l.tell(l.a, test::auth_words({8, 1})), true, "an 8-byte record");
    f.equal(l.err(), header + "auth record too short: 8\n", "dropped with its line");
    f.equal(l.signals(), "", "nothing reaches the slot");
    f.equal(l.factory.auth_clients().size() == 1 && l.factory.auth_clients()[0]->GetSessionId() == 0u, true,
            "A stays, with session 0");
    f.equal(l.activate(6), "6 success\n", "activate 6");
    f.equal(test::printable(l.a.read(52)), test::printable(activation_records(0)), "A still gets session 0's");

    for (std::uint32_t bad : {513u, 3u}) {
      test::AuthAgent b;
      f.check(l.take(b), "agent B");
      int const port = b.port();
      l.streams.clear();
      f.check(b.send(test::auth_words({bad})) && b.delivered(), "length " + std::to_string(bad));
      f.check(l.until([&] { return l.factory.auth_clients().size() == 1; }), "B is gone");
      f.check(b.sees_end(), "B reads the end");
      f.equal(l.log(), header + "auth client 127.0.0.1:" + std::to_string(port) + " disconnected.\n",
              "the close is logged");
    }
    f.equal(l.tell(l.a, test::auth_request(0, "carol", "x")), true, "A again");
    f.equal(l.signals(), "6 auth carol/x\n", "A is served on");
  }), "");
}

TEST(AuthLink, RecordsFindTheirSlotAndAnswersTheConnectionThatNamedTheSession) {
  EXPECT_EQ(on_auth_link({{"hdlc0"}}, [](AuthLink& l, test::Failures& f) {
    f.equal(l.dsp_slot(7), "7 success\n7 transmitter 4097\n7 receiver 4097\n7 success\n", "7 on modem 1");
    test::AuthAgent b, c, unidentified;
    f.check(l.take(b) && l.take(c) && l.take(unidentified), "agents B, C and one that says nothing");

    f.equal(l.tell(b, test::auth_request(1, "bob", "b")) && l.tell(l.a, test::auth_request(0, "alice", "a")),
            true, "B for session 1, A for 0");
    f.equal(l.signals(), "7 auth bob/b\n6 auth alice/a\n", "each to its slot");
    f.equal(l.activate(7), "7 success\n", "activate 7");
    f.equal(test::printable(b.read(52)), test::printable(activation_records(1)), "B gets 7's records");
    f.equal(l.a.read(1, 100) + unidentified.read(1, 100), "", "nobody else");

    // A digital modem and a DSP modem not set up are both session -1.
    f.equal(l.create_modem(3, &kDigital), "3 success\n", "3, digital");
    f.equal(l.create_modem(4, nullptr), "4 success\n", "4, a DSP modem not set up");
    l.err();
    l.streams.clear();
    f.equal(l.activate(3), "3 success\n", "activate 3, session -1");
    f.equal(l.log(),
            "modem[4,4]: send error: unknown auth 4294967295 session.\n"
            "modem[4,4]: send error: unknown auth 4294967295 session.\n",
            "no connection has named -1");
    f.equal(unidentified.read(1, 200), "", "the silent agent gets nothing");
    f.equal(l.tell(c, test::auth_request(0xFFFFFFFF, "carol", "c")), true, "C names session -1");
    f.equal(l.signals(), "3 auth carol/c\n", "to the first slot of session -1");
    f.equal(l.activate(4), "4 success\n", "activate 4");
    f.equal(test::printable(c.read(52)), test::printable(activation_records(0xFFFFFFFF)), "C gets 4's records");

    f.equal(l.tell(c, test::auth_request(5, "dave", "d")), true, "C names session 5");
    f.equal(l.err(), "modem[4,4]: receive auth request for unknown session 5\n", "no slot has it");
    f.equal(l.signals(), "", "nothing to the controller");
  }), "");
}

TEST(AuthLink, ASendThatCannotCompleteClosesOnlyThatConnection) {
  EXPECT_EQ(on_auth_link({}, [](AuthLink& l, test::Failures& f) {
    test::AuthAgent b;
    f.check(l.take(b, 1), "agent B, with the smallest receive buffer");
    f.equal(l.tell(l.a, test::auth_request(0, "a", "a")) && l.tell(b, test::auth_request(9, "b", "b")), true,
            "A names 0, B 9");
    f.equal(l.signals(), "6 auth a/a\n", "A's request; B's finds no slot");
    l.err();
    // B never reads: its records pile up until a write cannot go at once.
    std::string const accept = test::auth_words({16, 2, 9, 1});
    int sent = 0;
    while (sent < 1000000 && l.factory.SendAuth(reinterpret_cast<attr const*>(accept.data()))) ++sent;
    f.check(sent > 0 && sent < 1000000, "B's buffers filled after " + std::to_string(sent) + " records");
    f.equal(l.factory.auth_clients().size(), 1u, "B is gone at once");
    f.equal(l.log(), "modem[4,1]: auth client 127.0.0.1:" + std::to_string(b.port()) + " disconnected.\n",
            "its close is logged");
    f.check(b.sees_end(), "B reads the end after what was sent");
    f.equal(l.activate(6), "6 success\n", "activate 6");
    f.equal(test::printable(l.a.read(52)), test::printable(activation_records(0)), "A is served on");
  }), "");
}

TEST(AuthLink, APassTakesAtMost64RecordsAndTheNextPassesTheRestInOrder) {
  EXPECT_EQ(on_auth_link({}, [](AuthLink& l, test::Failures& f) {
    std::string const header = "modem[4,1]: ";
    // Records too short count too: 40 of them, 60 requests no slot has, half of one more.
    std::string bytes, expected;
    for (int i = 0; i < 40; ++i) {
      bytes += test::auth_words({4});
      expected += header + "auth record too short: 4\n";
    }
    for (std::uint32_t session = 100; session <= 160; ++session) {
      bytes += test::auth_request(session, "u", "p");
      expected += header + "receive auth request for unknown session " + std::to_string(session) + "\n";
    }
    std::size_t const split = bytes.size() - 70;
    // The records each pass handled, as the lines it wrote.
    std::string per_pass;
    std::size_t lines = 0;
    l.poll.before_poll = [&] {
      std::string const err = l.streams.err();
      auto const now = static_cast<std::size_t>(std::count(err.begin(), err.end(), '\n'));
      if (now != lines) per_pass += std::to_string(now - lines) + " ";
      lines = now;
    };
    f.check(l.tell(l.a, bytes.substr(0, split)), "100 records and 70 bytes in one write");
    f.check(l.tell(l.a, bytes.substr(split)), "the last 70 bytes");
    l.poll.before_poll = nullptr;
    f.equal(per_pass, "64 36 1 ", "records per pass");
    f.equal(l.err(), expected, "every record, in order");
  }), "");
}

TEST(AuthLink, AConnectionTheLoopCannotWatchIsClosedAtOnce) {
  EXPECT_EQ(on_link({}, [](Link& l, test::Failures& f) {
    // A first agent comes and goes: the sanitizers, which need descriptors of their own
    // to check a call the first time, have seen every call made below.
    test::AuthAgent a, b;
    f.check(l.take(a), "agent A");
    a.close();
    f.check(l.until([&] { return l.factory.auth_clients().empty(); }), "A is gone");
    l.streams.clear();
    f.equal(b.connect(), "", "agent B waits in the backlog");
    {
      test::DescriptorsTaken const last(1);
      l.until([] { return false; });
      std::string const err = l.streams.err();
      f.check(err.starts_with("Event \"AuthClient::OnSocketEvent\": can't duplicate descriptor ") &&
                  err.ends_with(": Too many open files\n") && std::count(err.begin(), err.end(), '\n') == 1,
              "the accept takes the last descriptor, the watch finds none:\n" + err);
    }
    f.equal(l.factory.auth_clients().size(), 0u, "B is not kept");
    f.check(b.sees_end(), "B reads the end");
  }), "");
}

TEST(AuthLink, AnAcceptThatFailsPausesTheListenerForASecond) {
  EXPECT_EQ(on_link({}, [](Link& l, test::Failures& f) {
    f.check(l.factory.auth_listening(), "the server listens");
    test::AuthAgent a;
    f.equal(a.connect(), "", "an agent waits in the backlog");
    f.check(test::fail_system_call(SYS_accept4, EMFILE), "accept4 fails with EMFILE from now on");
    std::size_t const passes = l.poll.timeouts().size();
    // A listener that stays ready would hold the loop at one instant for ever.
    l.poll.before_poll = [&] {
      if (l.poll.timeouts().size() - passes > 200) multiplexer.terminate();
    };
    std::uint64_t const start = l.clock.now_us();
    l.until([] { return false; });
    f.equal(l.streams.err(),
            "modem[4,0]: fail to set nonblock mode.\ncan't accept connection: Too many open files\n",
            "one failure in the first second");
    f.check(l.poll.timeouts().size() - passes < 20,
            "no spin: " + std::to_string(l.poll.timeouts().size() - passes) + " passes");
    l.streams.clear();
    test::run_until([] { return false; }, 1500);
    f.equal(l.streams.err(),
            "modem[4,0]: fail to set nonblock mode.\ncan't accept connection: Too many open files\n"
            "modem[4,0]: fail to set nonblock mode.\ncan't accept connection: Too many open files\n",
            "a try after each pause");
    f.check(l.clock.now_us() - start >= 2500000, "in loop time");
    f.equal(l.factory.auth_clients().size(), 0u, "no client");
  }), "");
}

TEST(AuthLink, ARestartBindsBesideConnectionsInTimeWaitAndABusyPortLeavesTheLinkDown) {
  EXPECT_EQ(in_network({}, [] {
              test::Failures f;
              // A connection of an earlier server, closed on the server's side first.
              Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
              int const on = 1;
              ::setsockopt(listener.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
              sockaddr_in address{};
              address.sin_family = AF_INET;
              address.sin_port = htons(test::kAuthPort);
              address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              f.check(::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                          ::listen(listener.lowlevel_fd(), 1) == 0,
                      "an earlier server");
              test::AuthAgent old;
              f.equal(old.connect(), "", "its agent");
              Fd served(::accept(listener.lowlevel_fd(), nullptr, nullptr));
              served.close();
              f.check(old.sees_end(), "the server closed first");
              old.close();
              listener.close();
              f.check(time_wait_on_auth_port(), "the earlier server's end waits in TIME_WAIT");

              Link l;
              f.equal(l.streams.err(), "", "no bind failure");
              f.check(l.factory.auth_listening(), "listening");
              test::AuthAgent a;
              f.check(l.take(a), "an agent is taken");
              return f.result();
            }), "");
  EXPECT_EQ(in_network({}, [] {
              test::Failures f;
              Fd other(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
              sockaddr_in address{};
              address.sin_family = AF_INET;
              address.sin_port = htons(test::kAuthPort);
              address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
              f.check(::bind(other.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                          ::listen(other.lowlevel_fd(), 1) == 0,
                      "another program listens on the port");
              Link l;
              f.equal(l.streams.err(), "modem[4,0]: fail to bind auth socket: Address already in use\n", "logged");
              f.check(!l.factory.auth_listening(), "the link stays down");
              f.equal(l.create_trunk(), "1 success\n1 transmitter 1\n1 receiver 1\n", "the trunk slot");
              f.equal(l.dsp_slot(6), "6 success\n6 transmitter 4096\n6 receiver 4096\n6 success\n", "slots are made");
              f.equal(l.activate(6), "6 success\n", "and activated all the same");
              return f.result();
            }), "");
}

}  // namespace
