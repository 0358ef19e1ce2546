// Board control through server-sim over real TCP: trunk status of the E1 trunks and the
// BRI line interfaces, the transmit-clock mask, CAS, the clock source and the bus test,
// checked against what the controller gets, the daemon's log and the stand-in.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "schemas/acp.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/server/board_messages.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;
using namespace board_test;
using Lines = std::vector<std::string>;
using Match = std::function<bool(LGCP::Message const&)>;
using Clock = std::chrono::steady_clock;

Match trunk_status_of(ACP::TrunkType::NamedNumber type, int trunk = -1) {
  return [=](LGCP::Message const& m) {
    if (!is_signal(m, LGCP::Signal::trunkStatus::id)) return false;
    ACP::TrunkStatus const& s = m.get_pdu().get_signal().get_trunkStatus();
    return s.get_type() == type && (trunk < 0 || s.get_trunk().getValue() == trunk);
  };
}
Match const e1 = trunk_status_of(ACP::TrunkType::e1);
Match const bri = trunk_status_of(ACP::TrunkType::bri);

// The next `count` signals that `match` takes, as board_test prints them ("" where none
// came); `head` keeps each up to its counters.
Lines next_signals(Controller& c, Match const& match, int count, int wait_ms = 5000, bool head = false) {
  Lines out;
  for (int i = 0; i < count; ++i) {
    auto const s = c.signal(match, wait_ms);
    std::string text = !s ? "" : is_signal(*s, LGCP::Signal::cas::id) ? cas_text(*s) : trunk_text(*s);
    if (head) text = text.substr(0, text.find(" lossBF="));
    out.push_back(text);
  }
  return out;
}

// Sends the command, checks that it is answered success, and returns the cas signals
// that came before the answer.
Lines cas_of(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what) {
  c.send(m);
  auto const r = c.response(m.get_seq().getValue());
  f.check(r && is_success(*r), what + ": answered success");
  Lines got;
  while (auto s = c.signal([](LGCP::Message const& x) { return is_signal(x, LGCP::Signal::cas::id); }, 0))
    got.push_back(cas_text(*s));
  return got;
}

void succeeds(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what) {
  c.send(m);
  auto const r = c.response(m.get_seq().getValue());
  f.check(r && is_success(*r), what + ": answered success");
}

// Lines as one text, for the failure messages.
std::string text(Lines const& lines) {
  std::string out;
  for (std::string const& line : lines) out += line + "\n";
  return out;
}

void same(test::Failures& f, Lines const& got, Lines const& expected, std::string const& what) {
  f.equal(text(got), text(expected), what);
}

std::size_t find(Lines const& lines, std::string const& text) {
  for (std::size_t i = 0; i < lines.size(); ++i)
    if (lines[i].find(text) != std::string::npos) return i;
  return lines.size();
}

using Body = std::function<void(Daemon&, Controller&, test::BoardSimClient&, test::Failures&)>;

// A running server-sim whose stand-in `before` prepares, and a connected controller;
// `after` looks at the daemon once SIGTERM ended it.
std::string with_daemon(Body const& body, std::function<void(test::BoardSimClient&)> const& before = {},
                        DaemonOptions options = {},
                        std::function<void(Daemon&, test::Failures&)> const& after = {}) {
  return in_scene([&]() -> std::string {
    Daemon daemon(options);
    if (std::string const failed = daemon.start(); !failed.empty()) return failed;
    test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
    if (before) before(board);
    Controller c;
    if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
    test::Failures f;
    body(daemon, c, board, f);
    f.check(c.undecodable().empty(), "the daemon sent a body that does not decode");
    c.close();
    f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
    if (after) after(daemon, f);
    return f.result();
  });
}

TEST(BoardControl, TrunkStatusOfTheE1TrunksAndTheBriChannels) {
  auto before = [](test::BoardSimClient& board) {
    board.ok("set maintenance 1 2 3 4 5 6 7");
    board.ok("set maintenance 2 9 0 0 0 0 0");
    char const* const status[] = {"0xC5", "0x85", "0x45", "0x01", "0x00", "0xE5", "0xE5", "0xC5"};
    for (int c = 0; c < 8; ++c) board.ok("set hal spi " + std::to_string(c) + " 51 " + status[c]);
    board.ok("clear");
  };
  EXPECT_EQ(with_daemon(
                [](Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
                  auto const connected = Clock::now();
                  same(f, next_signals(c, e1, 4),
                          Lines{"e1 0 normal slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0",
                                "e1 1 lossCarrier slips=3 lossBF=4 lossCarrier=5 lossAIS=6 lossRAI=7",
                                "e1 2 unknown slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0",
                                "e1 3 normal slips=0 lossBF=0 lossCarrier=0 lossAIS=0 lossRAI=0"},
                          "the E1 trunks at connection");
                  // The mask and the CAS open follow the status reports in the same pass:
                  // the open's log line says the requests are all in the stand-in's log.
                  f.check(daemon.wait_output("E1: cas interface opened!"), "its log line");
                  Lines const log = board.requests();
                  std::size_t const clock = find(log, "/dev/hal ioctl HW_CLOCK_SELECT source=4");
                  f.check(clock < find(log, "/dev/maintenance ioctl status"),
                          "the free-running clock before the first status request (bind order)");
                  f.check(find(log, "/dev/maintenance ioctl tclk value=0x0") < log.size(), "the mask is cleared");
                  f.check(find(log, "/dev/e1-cas open") < log.size(), "the CAS device is opened");

                  same(f, next_signals(c, bri, 8, 2500, true),
                          Lines{"bri 0 normal slips=0", "bri 1 rai slips=0", "bri 2 ais slips=0", "bri 3 lossBF slips=0",
                                "bri 4 lossCarrier slips=0", "bri 5 normal slips=1", "bri 6 normal slips=1",
                                "bri 7 normal slips=0"},
                          "the BRI channels' first pass");
                  f.check(Clock::now() - connected >= std::chrono::milliseconds(900), "no sooner than a second");
                  Lines const second = next_signals(c, bri, 8, 2500, true);
                  f.equal(second[5] + ", " + second[6], "bri 5 normal slips=0, bri 6 normal slips=0",
                          "a standing slip is reported once");

                  board.ok("clear");
                  succeeds(c, f, trunk_cfg(1, 2, LGCP::TrunkMode::slave), "trunk 2 slave");
                  f.check(daemon.wait_output("E1: TCLT = 0x4"), "the mask's log line");
                  same(f, board.ok("state maintenance"), Lines{"tclk=0x4"}, "the driver's mask");
                  succeeds(c, f, trunk_cfg(2, 2, LGCP::TrunkMode::master), "trunk 2 master");
                  succeeds(c, f, trunk_cfg(3, 40, LGCP::TrunkMode::slave), "trunk 40");
                  succeeds(c, f, trunk_cfg(4, -1, LGCP::TrunkMode::slave), "trunk -1");
                  same(f, board.requests("maintenance", "ioctl tclk"),
                          Lines{"/dev/maintenance ioctl tclk value=0x4", "/dev/maintenance ioctl tclk value=0x0",
                                "/dev/maintenance ioctl tclk value=0x0"},
                          "the masks sent");

                  // Right after a pass ends, the next one loses SPI at its first read.
                  while (c.signal(bri, 0)) {
                  }
                  f.check(c.signal(trunk_status_of(ACP::TrunkType::bri, 7), 2500).has_value(), "a pass ends");
                  while (c.signal(bri, 0)) {
                  }
                  board.ok("fail hal ioctl spi-read ENODEV once");
                  Lines lost;
                  for (int channel = 0; channel < 8; ++channel)
                    lost.push_back("bri " + std::to_string(channel) + " lossCarrier slips=0");
                  same(f, next_signals(c, bri, 8, 2500, true), lost, "the pass that loses SPI");
                  f.check(daemon.wait_output("spi: hal without spi"), "the loss's log line");
                  while (c.signal(e1, 0)) {
                  }
                  f.check(!c.signal(bri, 2500).has_value(), "no BRI report after that");
                  f.check(c.signal(e1, 0).has_value(), "while the E1 reports go on");
                },
                before),
            "");
}

TEST(BoardControl, CasWithoutASlot) {
  EXPECT_EQ(
      with_daemon([](Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
        int seq = 0;
        auto const on = [&](int path, int timeslot, Cas what, int value = 0) {
          return cas(++seq, -1, path, timeslot, what, value);
        };
        same(f, cas_of(c, f, on(1, 5, Cas::open, 9), "open 9 on {1, 5}"), Lines{"{1, 0, 0, 0}", "{1, 5, 0, 9}"},
                "the trunk opens, then the timeslot's bits");
        same(f, board.ok("state e1-cas 1 5"), Lines{"open=1 on=1 rx=0x00 tx=0x09"}, "the driver's timeslot");
        board.ok("set e1-cas rx 1 5 10");
        same(f, next_signals(c, [](LGCP::Message const& m) { return is_signal(m, LGCP::Signal::cas::id); }, 1),
                Lines{"{1, 5, 10, 9}"}, "a received change");
        same(f, cas_of(c, f, on(1, 5, Cas::set, 3), "set 3"), Lines{"{1, 5, 10, 3}"}, "the bits after a set");
        board.ok("deliver e1-cas 0102");
        f.check(c.quiet(300), "a short record sends nothing");
        board.ok("fail e1-cas ioctl get-bits EIO once");
        same(f, cas_of(c, f, on(1, 5, Cas::get), "get"), Lines{"{1, 5, -1, 0}"}, "a failed read of the bits");
        same(f, cas_of(c, f, on(1, 5, Cas::close), "close 5"), Lines{"{1, 5, -1, 1}"}, "the timeslot closes");
        same(f, cas_of(c, f, on(1, 16, Cas::close), "close 16"), Lines{}, "timeslot 16 is not closed alone");
        same(f, cas_of(c, f, on(1, 0, Cas::close), "close 0"), Lines{"{1, 0, 1, 0}"}, "the trunk closes");
        same(f, cas_of(c, f, on(1, 0, Cas::close), "close 0 again"), Lines{}, "a closed trunk");
        same(f, cas_of(c, f, on(4, 5, Cas::open, 9), "open on path 4"), Lines{}, "no trunk 4");
        board.ok("clear");
        board.ok("fail e1-cas ioctl open-trunk EIO once");
        same(f, cas_of(c, f, on(2, 5, Cas::open, 9), "open 9 on {2, 5}"), Lines{"{2, 0, -1, 0}"},
                "a trunk that does not open");
        f.check(daemon.wait_output("E1: open cas signalling on trunk(2) - fail(-1)"), "its log line");
        same(f, board.requests("e1-cas", "ioctl configure"), Lines{}, "and no timeslot configured");

        c.send(cas(++seq, 9, 1, 5, Cas::get));
        auto const r = c.response(seq);
        f.check(r && error_of(*r) == LGCP::ErrorCause::slotNotExists, "with a slot the slot table answers");
      }),
      "");
}

TEST(BoardControl, ClockSourceAndItsFallback) {
  auto before = [](test::BoardSimClient& board) {
    board.ok("clear");
    board.ok("fail hal open ENODEV once");
  };
  EXPECT_EQ(
      with_daemon(
          [](Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
            f.check(daemon.wait_output("clkctl: set clock source fail: code 1."), "no selector at connection");
            f.check(daemon.wait_output("spi: clock master disabled"), "so no line interface is clock master");
            Lines expected;
            for (int channel = 0; channel < 8; ++channel)
              expected.push_back("/dev/hal ioctl spi-write channel=" + std::to_string(channel) +
                                 " register=87 data=0x30");
            same(f, board.requests("hal", "ioctl spi-write"), expected, "register 87 on every channel");
            same(f, board.requests("hal", "ioctl HW_CLOCK_SELECT"), Lines{}, "no source selected");

            using LGCP::BExtEn;
            using LGCP::ClkSel0;
            int seq = 0;
            auto selects = [&](ClkSel0::NamedNumber select, BExtEn::NamedNumber external, int source) {
              board.ok("clear");
              ++seq;
              succeeds(c, f, clock_cfg(seq, select, external, source), "clockCfg " + std::to_string(seq));
              return board.requests("hal", "ioctl HW_CLOCK_SELECT");
            };
            same(f, selects(ClkSel0::external, BExtEn::enabled, 2), Lines{"/dev/hal ioctl HW_CLOCK_SELECT source=2"},
                    "source 2");
            f.equal(board.requests("hal", "open").size(), 1u, "the selector opens now");
            f.check(daemon.wait_output("clkctl: set clock source cmd: {\n  clkSel0 external,\n  bextEn enabled,\n"
                                       "  source 2\n }\nclkctl: clock source = f2\n"),
                    "the command in value notation, then the source's name");
            same(f, selects(ClkSel0::external, BExtEn::enabled, -1), Lines{}, "a negative source");
            same(f, selects(ClkSel0::internal, BExtEn::enabled, 3), Lines{"/dev/hal ioctl HW_CLOCK_SELECT source=4"},
                    "internal");
            same(f, selects(ClkSel0::external, BExtEn::disabled, 0), Lines{"/dev/hal ioctl HW_CLOCK_SELECT source=5"},
                    "external bus disabled");
            f.check(daemon.wait_output("clkctl: clock source = X3"), "X3");
            same(f, selects(ClkSel0::external, BExtEn::enabled, 9), Lines{"/dev/hal ioctl HW_CLOCK_SELECT source=9"},
                    "past the name table");
            f.check(daemon.wait_output("clkctl: clock source = 9\n"), "its number for its name");
            board.ok("fail hal ioctl HW_CLOCK_SELECT EIO once");
            selects(ClkSel0::external, BExtEn::enabled, 1);
            f.check(daemon.wait_output("clkctl: HW_CLOCK_SELECT fail."), "a refused source");
            f.equal(board.requests("hal", "open").size(), 0u, "and stays open");

            board.ok("clear");
            c.close();
            f.check(daemon.wait_output("clkctl: set clock source cmd: {\n  clkSel0 internal,\n  bextEn disabled,\n"
                                       "  source -1\n }\nclkctl: clock source = freerun\n"),
                    "the free-running clock when the controller goes");
          },
          before),
      "");

  DaemonOptions disabled;
  disabled.args = {"--disable-clock"};
  EXPECT_EQ(with_daemon(
                [](Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
                  f.check(daemon.wait_output("clock control disabled.\n"), "the option's log line");
                  c.send(clock_cfg(1, LGCP::ClkSel0::internal, LGCP::BExtEn::enabled, 0));
                  auto const r = c.response(1);
                  f.check(r && error_of(*r) == LGCP::ErrorCause::unsupported, "clockCfg is unsupported");
                  same(f, board.requests("hal", "ioctl HW_CLOCK_SELECT"), Lines{}, "no clock request");
                },
                [](test::BoardSimClient& board) { board.ok("clear"); }, disabled),
            "");
}

TEST(BoardControl, BusTestThroughTheSwitch) {
  EXPECT_EQ(
      with_daemon([](Daemon& daemon, Controller& c, test::BoardSimClient& board, test::Failures& f) {
        int seq = 0;
        auto answer = [&](Bpc mode, unsigned start, unsigned length) {
          c.send(test_bpc(++seq, 3, 1, mode, start, length));
          auto const r = c.response(seq);
          return !r ? -2 : is_success(*r) ? -1 : error_of(*r);
        };
        constexpr int kSuccess = -1;
        f.equal(answer(Bpc::write, 0, 4), kSuccess, "write 4 from 0");
        auto outputs = [&] {
          Lines held;
          for (int port = 8576; port < 8580; ++port) held.push_back(board.ok("state hal " + std::to_string(port)).at(0));
          return held;
        };
        Lines const written = {"output=8576 byte=0x67 carries=0x67", "output=8577 byte=0xc6 carries=0xc6",
                               "output=8578 byte=0x69 carries=0x69", "output=8579 byte=0x73 carries=0x73"};
        same(f, outputs(), written, "the pattern of seed 1");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        same(f, outputs(), written, "left alone by the switch's refresh");
        f.equal(answer(Bpc::read, 0, 4), kSuccess, "read back");

        board.ok("set hal 8581 0x67");
        board.ok("set hal 8582 0x00");
        board.ok("clear");
        f.equal(answer(Bpc::read, 5, 3), int{LGCP::ErrorCause::busError}, "a mismatch");
        f.check(daemon.wait_output("bus 3: test failed on channel 6 expected C6  read 00 \n"), "its line");
        same(f, board.requests("hal", "ioctl read"),
                Lines{"/dev/hal ioctl read port=8581 byte=0xff got=0x67", "/dev/hal ioctl read port=8582 byte=0xff got=0x00"},
                "the check stops at the first mismatch");

        board.ok("fail hal ioctl write EIO once");
        f.equal(answer(Bpc::write, 10, 2), int{LGCP::ErrorCause::busError}, "a write that did not take");
        f.check(daemon.wait_output("bus 3: write failed on channel 10 write 67  written FF \n"), "its line");

        f.equal(answer(Bpc::disconnect, 0, 4), kSuccess, "disconnect 0..3");
        for (int port = 8576; port < 8580; ++port)
          f.equal(board.ok("state hal " + std::to_string(port)).at(0),
                  "output=" + std::to_string(port) + " disabled carries=0xff", "disabled");
        board.ok("clear");
        for (Bpc mode : {Bpc::read, Bpc::write, Bpc::disconnect}) f.equal(answer(mode, 20, 0), kSuccess, "length 0");
        f.equal(board.requests("hal", "ioctl read").size() + board.requests("hal", "ioctl write").size(), 0u,
                "an empty range touches no port");

      },
      {}, {},
      [](Daemon& daemon, test::Failures& f) {
        std::string const out = daemon.output();
        std::size_t const first = out.find("spi: disable channel 0\n");
        std::size_t const last = out.find("spi: disable channel 7\nspi: clock master disabled\n");
        f.check(first != std::string::npos && last != std::string::npos && first < last,
                "at exit every channel goes off and none is clock master:\n" +
                    out.substr(out.size() > 2000 ? out.size() - 2000 : 0));
      }),
      "");
}

}  // namespace
