// DSP modem slots in the test process, against the stand-in's modem control device and
// the controller's end of the link: the modem's set-up (fax calls, which start no
// program), the programs' argument lists, the agent's records and the activation.
// Programs run only in the end-to-end tests.

#include "slots/modem/dsp_modem_slot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <unistd.h>

#include "asn1/coder_env.h"
#include "foundation/board_requests.h"
#include "schemas/base.h"
#include "server/start_up/slot_factories.h"
#include "slots/modem/modem_factory.h"
#include "tests/schemas/oracle/wire_oracle.h"
#include "tests/slots/slot_table_fixture.h"

namespace {

using lgcp_test::error_of;
using lgcp_test::is_success;
using Mode = TERM::DigitalDataModeEnum;

constexpr int kModemSlot = 9;
constexpr int kTrunkSlot = 1;  // trunk 0, timeslot 1: channel 1

struct Dmp {
  int offset, value;
};

TERM::ModemParams fax_call(std::vector<Mode::NamedNumber> const* ddm = nullptr, std::vector<Dmp> const& dmp = {}) {
  TERM::ModemParams params;
  params.set_cid("");
  params.set_cdid("");
  params.set_fax();
  params.set_originate();
  if (ddm) params.set_ddm();
  if (ddm)
    for (Mode::NamedNumber mode : *ddm) params.ref_ddm().push_back(Mode(mode));
  if (!dmp.empty()) params.set_dmp();
  for (Dmp const& d : dmp) {
    TERM::DDModemParam element;
    element.set_offset(d.offset);
    element.set_value(d.value);
    params.ref_dmp().push_back(element);
  }
  return params;
}

class ModemTest : public test::SlotTableTest {
protected:
  ModemTest() {
    MakeSlotFactories();
    EXPECT_TRUE(is_success(exchange(command(seq(), kTrunkSlot, [](LGCP::Command& c) {
      auto& trunk = c.select_create().select_trunk();
      trunk.set_trunk(0);
      trunk.set_timeslot(1);
    }), 3)[0]));
    streams.clear();
    test::switch_board().clear_requests();  // the factory's count when the first test makes it
  }

  int seq() { return ++m_seq; }
  std::vector<LGCP::Message> exchange(LGCP::Message const& m, std::size_t expected = 1) {
    return controller.exchange(m, expected);
  }
  static LGCP::Message command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill) {
    return test_server::command(seq, slot, fill);
  }
  std::vector<LGCP::Message> create(TERM::ModemParams const& params, int slot = kModemSlot) {
    return exchange(command(seq(), slot, [&](LGCP::Command& c) { c.select_create().select_modem(params); }));
  }
  std::vector<LGCP::Message> connect(int from, int to, std::size_t expected = 1) {
    return exchange(command(seq(), from, [&](LGCP::Command& c) { c.select_connect(static_cast<unsigned>(to)); }), expected);
  }
  DspModemSlot* slot(int id = kModemSlot) { return dynamic_cast<DspModemSlot*>(Slots::instance().Get(id)); }
  // The stand-in's log of the modem device, without times.
  static std::vector<std::string> mctl_requests() {
    std::vector<std::string> lines;
    for (auto const& r : test::switch_board().requests(Board::kModemControl)) {
      std::ostringstream text;
      text << r;
      lines.push_back(text.str().substr(text.str().find(' ') + 1));
    }
    return lines;
  }

private:
  int m_seq = 0;
};

std::string signal_text(LGCP::Message const& m) {
  if (!m.get_pdu().signal_isSelected()) return is_success(m) ? "success" : "error " + std::to_string(error_of(m));
  LGCP::Signal const& s = m.get_pdu().get_signal();
  if (s.transmitter_isSelected()) return "transmitter " + std::to_string(s.get_transmitter().get_active().getValue());
  if (s.receiver_isSelected()) return "receiver " + std::to_string(s.get_receiver().get_active().getValue());
  if (s.abort_isSelected()) return "abort " + std::to_string(s.get_abort().getValue());
  return "signal " + std::to_string(s.currentSelection());
}

std::vector<std::string> texts(std::vector<LGCP::Message> const& messages) {
  std::vector<std::string> out;
  for (auto const& m : messages) out.push_back(signal_text(m));
  return out;
}

TEST_F(ModemTest, TheFirstStreamSetsTheModemUpOnceAndTheDestroyFreesIt) {
  std::vector<Mode::NamedNumber> const ddm = {Mode::ddmV110, Mode::ddm7BIT};
  EXPECT_EQ(texts(create(fax_call(&ddm))), std::vector<std::string>{"success"}) << "no modem is taken at create";
  EXPECT_TRUE(mctl_requests().empty());
  EXPECT_EQ(texts(connect(kModemSlot, kTrunkSlot, 3)),
            (std::vector<std::string>{"transmitter 4096", "receiver 4096", "success"}));
  EXPECT_EQ(mctl_requests(), (std::vector<std::string>{"/dev/mctl open flags=O_RDONLY",
                                                       "/dev/mctl ioctl allocate value=0x0 result=0",
                                                       "/dev/mctl ioctl get-timeslot value=0x0 result=4096",
                                                       "/dev/mctl ioctl set-ddm modem=0 mask=5",
                                                       "/dev/mctl ioctl reset-dmp modem=0 arg=-1",
                                                       "/dev/mctl ioctl originate-fax modem=0 arg=-1"}));
  ASSERT_NE(slot(), nullptr);
  EXPECT_EQ(slot()->modem_id(), 0);
  EXPECT_EQ(ModemFactory::instance().modem_slots().size(), 1u);
  EXPECT_EQ(ModemFactory::instance().dsp_slots(), std::vector<DspModemSlot*>{slot()});

  // The input hook finds the modem set up.
  test::switch_board().clear_requests();
  EXPECT_EQ(texts(connect(kTrunkSlot, kModemSlot)), std::vector<std::string>{"success"});
  EXPECT_TRUE(mctl_requests().empty());

  EXPECT_EQ(texts(exchange(command(seq(), kModemSlot, [](LGCP::Command& c) { c.select_destroy(); }))),
            std::vector<std::string>{"success"}) << "no program waits";
  EXPECT_TRUE(ModemFactory::instance().modem_slots().empty());
  EXPECT_TRUE(ModemFactory::instance().dsp_slots().empty());
  EXPECT_EQ(test::modem_model().modems()[0].held, false);
}

TEST_F(ModemTest, TheModeMaskFollowsTheDigitalDataModes) {
  std::vector<Mode::NamedNumber> const v120 = {Mode::ddmV120};
  std::vector<Mode::NamedNumber> const all = {Mode::ddm8BIT, Mode::ddmV110, Mode::ddm7BIT};
  struct Case {
    std::vector<Mode::NamedNumber> const* ddm;
    std::vector<std::string> set_ddm;
  } const cases[] = {{nullptr, {}},
                     {&v120, {"/dev/mctl ioctl set-ddm modem=0 mask=0"}},
                     {&all, {"/dev/mctl ioctl set-ddm modem=0 mask=7"}}};
  for (Case const& c : cases) {
    create(fax_call(c.ddm));
    test::switch_board().clear_requests();
    connect(kModemSlot, kTrunkSlot, 3);
    EXPECT_EQ(test::switch_board().requests(Board::kModemControl, "ioctl set-ddm").size(), c.set_ddm.size());
    std::vector<std::string> set_ddm;
    for (std::string const& line : mctl_requests())
      if (line.find("set-ddm") != std::string::npos) set_ddm.push_back(line);
    EXPECT_EQ(set_ddm, c.set_ddm);
    // The next create replaces the slot, whose modem goes with it.
  }
}

TEST_F(ModemTest, AFailedParameterIsLoggedAndTheOthersStillGo) {
  create(fax_call(nullptr, {{1, 10}, {-5, 7}, {3, 30}}));
  EXPECT_EQ(texts(connect(kModemSlot, kTrunkSlot, 3)),
            (std::vector<std::string>{"transmitter 4096", "receiver 4096", "success"}));
  EXPECT_EQ(test::switch_board().requests(Board::kModemControl, "ioctl set-dmp").size(), 3u);
  EXPECT_EQ(streams.err(), "09:dsp-modem: set dmp parameter index=4294967291 value=7 failed : Invalid argument\n");
  EXPECT_EQ(test::modem_model().modems()[0].dmp, (std::map<std::int32_t, std::int32_t>{{1, 10}, {3, 30}}));
}

TEST_F(ModemTest, AFailedAllocationClaimsNoStreamAndTheNextConnectTriesAgain) {
  create(fax_call());
  test::switch_board().fail(Board::kModemControl, "ioctl allocate", EBUSY, BoardSim::Repeat::once);
  EXPECT_EQ(texts(connect(kModemSlot, kTrunkSlot, 2)),
            (std::vector<std::string>{"abort 16", "error " + std::to_string(LGCP::ErrorCause::connectFail)}));
  EXPECT_EQ(mctl_requests(), (std::vector<std::string>{"/dev/mctl open flags=O_RDONLY",
                                                       "/dev/mctl ioctl allocate value=0x0 -> EBUSY", "/dev/mctl close"}));
  EXPECT_NE(streams.err().find("09:dsp-modem: insufficient resources : Device or resource busy\n"), std::string::npos);
  EXPECT_NE(streams.err().find("slot 09:dsp-modem don't have output stream to 01:trunk"), std::string::npos);
  EXPECT_EQ(slot()->modem_id(), -1);

  EXPECT_EQ(texts(connect(kModemSlot, kTrunkSlot, 3)),
            (std::vector<std::string>{"transmitter 4096", "receiver 4096", "success"}));
  auto const opens = test::switch_board().requests(Board::kModemControl, "open");
  auto const closes = test::switch_board().requests(Board::kModemControl, "close");
  EXPECT_EQ(opens.size(), 2u);
  EXPECT_EQ(closes.size(), 1u) << "the failed set-up's handle is closed, the working one kept";
}

// A board whose enumeration never moves on.
class StuckEnumeration : public Board::SystemIo {
public:
  int open(char const*, int) override { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }
  int ioctl_value(int, unsigned long request, unsigned long) override {
    ++asked;
    return request == Board::MCTL_NEXT_MODEM ? 0 : -1;
  }
  int asked = 0;
};

TEST_F(ModemTest, AnEnumerationThatRepeatsItselfStops) {
  ModemFactory& factory = ModemFactory::instance();
  StuckEnumeration stuck;
  Board::Io* const previous = Board::install(&stuck);
  factory.update_modemDevices();
  Board::install(previous);
  EXPECT_EQ(factory.modems_found(), 1);
  EXPECT_EQ(stuck.asked, 2);
  EXPECT_EQ(streams.err(), "modem[1,0]: enum fail: modem numbers out of order\n");
  factory.update_modemDevices();
  EXPECT_EQ(factory.modems_found(), 4) << "the stand-in's modems";
}

TEST(ModemArguments, ProgramsGetTheirFixedListsWithinTheLimits) {
  TERM::ModemParams params;
  params.set_cid("5551234");
  params.set_cdid("");
  EXPECT_EQ(ModemSlot::PppdArguments(params, "/dev/mdm3", "/usr/local/etc/ppp/aoptions"),
            (std::vector<std::string>{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/aoptions", "/dev/mdm3",
                                      "remotenumber", "5551234"}));
  params.set_cid("");
  EXPECT_EQ(ModemSlot::PppdArguments(params, "hdlc0", "/usr/local/etc/ppp/ioptions"),
            (std::vector<std::string>{"/usr/local/sbin/pppd", "file", "/usr/local/etc/ppp/ioptions", "hdlc0"}));

  params.set_execfile("/opt/x");
  params.set_execargs();
  for (int i = 1; i <= 70; ++i) params.ref_execargs().push_back(ASN1::IA5String("a" + std::to_string(i)));
  auto const pppd = ModemSlot::PppdArguments(params, "/dev/mdm0", "o");
  ASSERT_EQ(pppd.size(), 63u) << "execfile and 62 arguments";
  EXPECT_EQ(pppd.front(), "/opt/x");
  EXPECT_EQ(pppd.back(), "a62");

  auto const fax = DspModemSlot::FaxSenderArguments(params, 2);
  ASSERT_EQ(fax.size(), 63u) << "execfile, -m, the modem and 60 arguments";
  EXPECT_EQ((std::vector<std::string>(fax.begin(), fax.begin() + 4)), (std::vector<std::string>{"/opt/x", "-m", "2", "a1"}));
  EXPECT_EQ(fax.back(), "a60");
  params.omit_execfile();
  EXPECT_EQ(DspModemSlot::FaxSenderArguments(params, 0).front(), "/usr/local/sbin/fax");

  std::tm at{};
  at.tm_year = 124;
  at.tm_mon = 2;
  at.tm_mday = 7;
  at.tm_hour = 14;
  at.tm_min = 5;
  at.tm_sec = 9;
  at.tm_isdst = -1;
  EXPECT_EQ(DspModemSlot::FaxReceiverArguments(2, std::mktime(&at)),
            (std::vector<std::string>{"/usr/local/bin/fax", "-m", "2", "receive", "/var/fax-14-05-09.g3"}));
}

// The agent's records reach a set-up slot as the link hands them: at the start of its
// 512-byte buffer.
class ModemAuthTest : public ModemTest {
protected:
  ModemAuthTest() {
    create(fax_call());
    connect(kModemSlot, kTrunkSlot, 3);
    streams.clear();
  }
  // The words of a record, the rest of the buffer left as the last record left it.
  std::vector<LGCP::Message> hand(std::vector<std::uint32_t> const& words, std::size_t expected) {
    std::memcpy(m_buffer, words.data(), words.size() * 4);
    std::size_t const before = controller.bodies().size();
    slot()->OnAuth(reinterpret_cast<attr const*>(m_buffer));
    auto got = controller.receive(expected);
    for (auto& m : controller.pending()) got.push_back(std::move(m));
    EXPECT_EQ(controller.bodies().size() - before, got.size());
    return got;
  }
  std::vector<std::uint32_t> auth_request(std::uint32_t length, char const* user, char const* password) {
    char bytes[140] = {};
    std::memcpy(bytes + 12, user, std::min<std::size_t>(64, std::strlen(user)));
    std::memcpy(bytes + 76, password, std::strlen(password));
    std::vector<std::uint32_t> words(35);
    std::memcpy(words.data(), bytes, sizeof bytes);
    words[0] = length;
    words[1] = 1;
    return words;
  }

  alignas(4) unsigned char m_buffer[512] = {};
};

TEST_F(ModemAuthTest, EveryRecordTypeIsHandledOrRefusedWithItsLine) {
  auto const line = [&] {
    std::string const text = streams.err();
    streams.clear();
    return text;
  };
  std::string const name(64, 'u');
  auto got = hand(auth_request(140, name.c_str(), "secret"), 1);
  ASSERT_EQ(got.size(), 1u);
  ASSERT_TRUE(got[0].get_pdu().get_signal().modemProceeding_isSelected());
  TERM::MdmRequestUserAuth const& auth = got[0].get_pdu().get_signal().get_modemProceeding().get_auth();
  EXPECT_EQ(std::string(auth.get_username()), name) << "the whole field, no zero after it";
  EXPECT_EQ(std::string(auth.get_password()), "secret");
  EXPECT_EQ(line(), "");

  struct Refused {
    std::vector<std::uint32_t> words;
    char const* line;
  } const refused[] = {
      {auth_request(139, "u", "p"), "09:dsp-modem: auth request, invalid size: 139\n"},
      {{16, 2, 0, 1}, "09:dsp-modem: auth accept, ignored.\n"},
      {{36, 3, 0}, "09:dsp-modem: auth ip, ignored.\n"},
      {{60, 4, 0}, "09:dsp-modem: auth accounting, invalid size: 60\n"},
      {{12, 7, 0}, "09:dsp-modem: unknown request from portslave: 0x7\n"},
      {{12, 0, 0}, "09:dsp-modem: unknown request from portslave: 0x0\n"},
      {{12, 0xABCDEF01, 0}, "09:dsp-modem: unknown request from portslave: 0xabcdef01\n"},
  };
  for (Refused const& r : refused) {
    EXPECT_TRUE(hand(r.words, 0).empty()) << r.line;
    EXPECT_EQ(line(), r.line);
  }
}

TEST_F(ModemAuthTest, AccountingHalvesKeepTheirBitsAsErlangReadsThem) {
  auto const got = hand({64, 4, 2, 0, 0, 0, 1, 0, 0, 0xFFFFFFFF, 0x80000000, 1, 0, 5, 3600, 0}, 1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(streams.err(), "");
  ASSERT_TRUE(got[0].get_pdu().get_signal().modemProceeding_isSelected());
  TERM::MdmAccounting const& acct = got[0].get_pdu().get_signal().get_modemProceeding().get_acct();
  auto const pair = [](BASE::INTEGER64Bits const& v) {
    return std::to_string(v.get_low().getValue()) + "," + std::to_string(v.get_high().getValue());
  };
  EXPECT_EQ(pair(acct.get_octetsOut()), "0,1");
  EXPECT_EQ(pair(acct.get_octetsIn()), "-1,0");
  EXPECT_EQ(pair(acct.get_packetsOut()), "1,-2147483648");
  EXPECT_EQ(pair(acct.get_packetsIn()), "5,0");
  EXPECT_EQ(pair(acct.get_time()), "3600,0");

  // Built here from the halves the record means, for Erlang to compare with what it
  // decodes from the daemon's bytes.
  auto const halves = [](int low, int high) {
    BASE::INTEGER64Bits v;
    v.set_low(low);
    v.set_high(high);
    return v;
  };
  TERM::MdmAccounting expected;
  expected.set_octetsOut(halves(0, 1));
  expected.set_octetsIn(halves(-1, 0));
  expected.set_packetsOut(halves(1, INT32_MIN));
  expected.set_packetsIn(halves(5, 0));
  expected.set_time(halves(3600, 0));
  LGCP::Message message;
  message.set_slot(kModemSlot);
  message.set_pdu().select_signal().select_modemProceeding(
      TERM::ModemProceeding(TERM::ModemProceeding::acct::id, expected));
  std::unique_ptr<oracle::ErlangCodec> const erlang = wire_oracle::start_codec();
  ASSERT_EQ(erlang->failure(), "");
  std::string const& body = controller.bodies().back();
  EXPECT_EQ(erlang->ask("decode LGCP-Message " + oracle::hex(std::vector<char>(body.begin(), body.end())) + " " +
                        wire_oracle::term(message)),
            "ok same");
}

TEST_F(ModemAuthTest, ActivationSendsTheAgentItsTwoRecordsOrIsRefusedWithoutParameters) {
  auto got = exchange(command(seq(), kModemSlot, [](LGCP::Command& c) {
    TERM::ModemUserParameters& user = c.select_activate().select_modem();
    user.set_remoteAddr("10.0.0.2");
    user.set_netmask("255.255.255.0");
    user.set_gateway("10.0.0.1");
    user.set_dns("not an address");
    user.set_mtu(1500);
  }));
  EXPECT_EQ(texts(got), std::vector<std::string>{"success"});
  std::string const modems = "modem[" + std::to_string(ModemFactory::instance().modems_found()) + ",1]: ";
  std::string const line = modems + "send error: unknown auth 0 session.\n";
  EXPECT_NE(streams.log().find(line + line), std::string::npos) << streams.log();
  got = exchange(command(seq(), kModemSlot, [](LGCP::Command& c) { c.select_activate().select_empty(); }));
  EXPECT_EQ(texts(got), std::vector<std::string>{"error " + std::to_string(LGCP::ErrorCause::unsupported)});
  EXPECT_EQ(streams.err(), "09:dsp-modem: modem's activation requests parameter.\n");
}

}  // namespace
