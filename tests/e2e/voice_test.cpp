// Voice players and recorders in server-sim, driven over TCP, with real A-law phrase files
// made by sox in the scene's voice folder and the test's own TCP hosts on loopback: what
// the hosts receive and send, what the stand-in's channels were written, and what the
// controller is told.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/e2e/channel_scene.h"
#include "tests/server/channel_commands.h"
#include "tests/support/ports.h"
#include "tests/support/tcp_host.h"

namespace {

using namespace e2e;
using Clock = std::chrono::steady_clock;
using Match = std::function<bool(LGCP::Message const&)>;

constexpr int kPlayer = 10;
constexpr int kRecorder = 21;
constexpr int kTrunk = 4;       // trunk {0,1}: switch port 1
constexpr int kOtherTrunk = 3;  // trunk {1,5}: switch port 37
constexpr int kInsufficientResources = 1;
constexpr int kConnectFail = 9;
constexpr int kConnectionFail = 0;
constexpr int kConnectionAborted = 1;
constexpr int kUserRequest = 2;
constexpr char kConfiguration[] = "[traces]\n";

Match on_slot(int slot, std::function<bool(LGCP::Message const&)> const& what) {
  return [=](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && what(m); };
}
Match abort_on(int slot) {
  return on_slot(slot, [](LGCP::Message const& m) { return lgcp_test::abort_of(m) == 0; });
}
Match stop_on(int slot) {
  return on_slot(slot, [](LGCP::Message const& m) { return lgcp_test::stop_recording_of(m).has_value(); });
}
Match start_playing_on(int slot) { return on_slot(slot, lgcp_test::is_start_playing); }
Match any_on(int slot) {
  return on_slot(slot, [](LGCP::Message const& m) { return m.get_pdu().signal_isSelected(); });
}

// "" when sox made the file, else why not: a missing sox fails the test, saying so.
std::string sox(std::string const& arguments) {
  if (std::system("command -v sox >/dev/null") != 0) return "sox is not installed (Debian package sox)";
  std::string const command = "sox " + arguments + " 2>/dev/null";
  return std::system(command.c_str()) == 0 ? "" : "sox failed: " + command;
}

// one.al: 0.25 s of 1000 Hz (2000 bytes); two.al: 0.5 s of 440 Hz (4000 bytes); tone.al:
// 1 s of 1000 Hz (8000 bytes); empty.al: nothing.
std::string make_phrases() {
  for (char const* args : {"-n -r 8000 -c 1 -e a-law -t al /usr/local/voice/one.al synth 0.25 sine 1000",
                           "-n -r 8000 -c 1 -e a-law -t al /usr/local/voice/two.al synth 0.5 sine 440",
                           "-n -r 8000 -c 1 -e a-law -t al /usr/local/voice/tone.al synth 1 sine 1000"})
    if (std::string const failed = sox(args); !failed.empty()) return failed;
  write_file("/usr/local/voice/empty.al", "");
  return "";
}

struct Voice : ChannelScene {
  explicit Voice(ChannelScene const& scene) : ChannelScene(scene) {}

  void ok(LGCP::Message const& m, std::string const& what) { f.check(command(m), what); }
  int error(LGCP::Message const& m) {
    c.send(m);
    auto const r = c.response(m.get_seq().getValue());
    return r ? error_of(*r) : -2;
  }
  // The port of the channel allocated last.
  int last_port() {
    auto const results = board.requests("mcc/ctl", "ioctl MCC_TIMESLOT");
    if (results.empty()) return -1;
    auto const at = results.back().find("result=");
    return at == std::string::npos ? -1 : std::atoi(results.back().c_str() + at + 7);
  }
  std::string state(int port) {
    auto const lines = board.ok("state mcc/ctl " + std::to_string(port));
    return lines.empty() ? "none" : lines[0];
  }
  // The bytes the stand-in kept of what was written on the channel.
  std::string kept(int port, std::size_t count) {
    std::string hex;
    for (std::size_t at = 0; at < count; at += 4096) {
      auto const lines = board.ok("state mcc/ctl " + std::to_string(port) + " data " + std::to_string(at) + " 4096");
      if (!lines.empty()) hex += lines[0];
    }
    return hex;
  }
  // A stream signal of the slot: "transmitter 1024", "transmitter inactive", ...
  std::string stream(int alternative, int slot, int wait_ms = 5000) {
    auto const s = c.signal(signal_of(alternative, slot), wait_ms);
    if (!s) return "none";
    auto const& signal = s->get_pdu().get_signal();
    LGCP::Stream const& st =
        alternative == LGCP::Signal::transmitter::id ? signal.get_transmitter() : signal.get_receiver();
    return st.active_isSelected() ? std::to_string(st.get_active().getValue()) : "inactive";
  }
  std::string transmitter(int slot) { return stream(LGCP::Signal::transmitter::id, slot); }
  int stop_cause(int slot, int wait_ms = 5000) {
    auto const s = c.signal(stop_on(slot), wait_ms);
    return s ? *lgcp_test::stop_recording_of(*s) : -1;
  }
  // Exactly one abort 0 of the slot: one within wait_ms, none more within 500 ms.
  void one_abort(int slot, std::string const& what, int wait_ms = 5000) {
    f.check(c.signal(abort_on(slot), wait_ms).has_value(), what + ": abort 0");
    f.check(!c.signal(abort_on(slot), 500), what + ": no second abort");
  }
  // How often the daemon wrote `text` so far.
  int count(std::string const& text) {
    std::string const output = daemon.output();
    int n = 0;
    for (auto at = output.find(text); at != std::string::npos; at = output.find(text, at + 1)) ++n;
    return n;
  }
  bool shows(std::string const& text, int times) {
    return eventually([&] { return count(text) >= times; });
  }
};

std::string hex_of(std::string const& bytes) {
  static char const digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char const c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// Long byte strings compared without printing them: where they first differ.
void same(test::Failures& f, std::string const& got, std::string const& wanted, std::string const& what) {
  if (got == wanted) return;
  std::size_t at = 0;
  while (at < got.size() && at < wanted.size() && got[at] == wanted[at]) ++at;
  f.check(false, what + ": " + std::to_string(got.size()) + " against " + std::to_string(wanted.size()) +
                     ", first different at " + std::to_string(at));
}

std::string run_voice(std::function<void(Voice&)> const& body) {
  DaemonOptions options;
  options.configuration = kConfiguration;
  return in_channel_scene(
      [&](ChannelScene& scene) {
        Voice v(scene);
        if (std::string const failed = make_phrases(); !failed.empty()) return v.f.check(false, failed);
        v.ok(create_trunk(++v.seq, kTrunk, 0, 1), "trunk {0,1} on slot 4");
        v.ok(create_trunk(++v.seq, kOtherTrunk, 1, 5), "trunk {1,5} on slot 3");
        body(v);
      },
      options);
}

TEST(VoicePlayers, ANetworkPlayerPlaysItsStreamAndFailsWithoutOne) {
  std::string const failed = run_voice([](Voice& v) {
    test::Failures& f = v.f;
    test::TcpHost host;
    v.board.ok("clear");
    v.ok(lgcp_test::create_network_player(++v.seq, kPlayer, "127.0.0.1", host.port(), 258), "network player 258");
    int const port = v.last_port();
    std::string const name = "player[" + std::to_string(port) + "]: ";
    f.check(!v.c.signal(any_on(kPlayer), 300), "no signal at create");

    v.board.ok("clear");
    v.ok(connect_to(++v.seq, kPlayer, kTrunk), "the player connects to slot 4");
    v.ok(connect_to(++v.seq, kPlayer, kOtherTrunk), "and to slot 3");
    f.equal(v.transmitter(kPlayer), std::to_string(port), "transmitter active with the channel's port");
    v.equal_log("hal", "ioctl connect",
                {"/dev/hal ioctl connect output=1 input=" + std::to_string(port),
                 "/dev/hal ioctl connect output=37 input=" + std::to_string(port)},
                "both receivers fed from the channel");
    Fd stream = host.accept();
    f.check(stream.is_valid(), "the host gets a connection");
    f.equal(lgcp_test::hex_text(test::read_bytes(stream, 4)), "00 00 01 02", "the id first, most significant byte first");
    f.check(!host.pending(300), "one connection for both receivers");
    f.check(v.c.signal(start_playing_on(kPlayer)).has_value(), "startPlaying");
    f.check(v.shows(name + "connected to " + host.address() + ".\n", 1), "connected is logged");

    v.board.ok("clear");
    f.check(test::send_all(stream, read_file("/usr/local/voice/two.al")), "the host sends two.al");
    stream.close();
    f.check(v.shows(name + "connection to " + host.address() + " closed.\n", 1), "the host's close is logged");
    f.equal(v.transmitter(kPlayer), "inactive", "transmitter inactive");
    v.equal_log("hal", "ioctl write", {"/dev/hal ioctl write output=1 byte=0xd5", "/dev/hal ioctl write output=37 byte=0xd5"},
                "both receivers idle");
    v.one_abort(kPlayer, "end of stream");
    f.equal(v.state(port), "port=" + std::to_string(port) + " mode=2 size=1024 rx=0 tx=5 written=4000", "4000 written");
    same(f, v.kept(port, 4000), hex_of(read_file("/usr/local/voice/two.al")), "two.al unchanged on the channel");

    // A closed port.
    test::ReservedPort closed;
    v.ok(lgcp_test::create_network_player(++v.seq, 11, "127.0.0.1", closed.port(), 1), "a player of a closed port");
    int const refused = v.last_port();
    v.ok(connect_to(++v.seq, 11, kTrunk), "it connects to slot 4");
    f.equal(v.transmitter(11), std::to_string(refused), "transmitter active");
    f.check(v.shows("player[" + std::to_string(refused) + "]: connection to 127.0.0.1:" +
                        std::to_string(closed.port()) + " fail.\n", 1),
            "the refused connection is logged");
    f.equal(v.transmitter(11), "inactive", "then inactive");
    v.one_abort(11, "refused");

    // A host whose queue one client that it never accepts fills: the connect times out.
    test::TcpHost full(0);
    Fd waiting = test::connect_loopback(full.port());
    f.check(waiting.is_valid(), "the unaccepted client connects");
    v.ok(lgcp_test::create_network_player(++v.seq, 12, "127.0.0.1", full.port(), 2), "a player of a full host");
    int const late = v.last_port();
    v.c.send(connect_to(++v.seq, 12, kTrunk));
    auto const asked = Clock::now();
    f.check(v.c.response(v.seq) && v.c.signal(abort_on(12), 10000), "abort 0 after the time-out");
    auto const took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - asked).count();
    f.check(took >= 4900 && took <= 8000, "the time-out after 4900..8000 ms, not " + std::to_string(took));
    f.check(v.count("player[" + std::to_string(late) + "]: connection to " + full.address() + " fail.\n") == 1,
            "the time-out is logged");
    f.equal(v.transmitter(12), std::to_string(late), "transmitter active");
    f.equal(v.transmitter(12), "inactive", "then inactive");

    // A host name is never connected to, not even as this host.
    int const named_port = test::ReservedPort().port();
    test::TcpHost any(8, "0.0.0.0", named_port);
    f.check(any.port() == named_port, "a listener on 0.0.0.0");
    v.ok(lgcp_test::create_network_player(++v.seq, 13, "voicehost", named_port, 3), "a player of voicehost");
    v.ok(connect_to(++v.seq, 13, kOtherTrunk), "it connects to slot 3");
    f.check(v.shows("]: connection to voicehost:" + std::to_string(named_port) + " fail.\n", 1), "the fail line");
    v.one_abort(13, "voicehost");
    f.check(!any.pending(300), "no connection anywhere");
  });
  EXPECT_EQ(failed, "");
}

TEST(VoicePlayers, AFilePlayerPlaysItsListAndSkipsWhatIsNoPhrase) {
  std::string const failed = run_voice([](Voice& v) {
    test::Failures& f = v.f;
    std::string const one = hex_of(read_file("/usr/local/voice/one.al"));
    std::string const two = hex_of(read_file("/usr/local/voice/two.al"));
    f.equal(one.size() / 2 + two.size() / 2, 6000u, "one.al and two.al of 2000 and 4000 bytes");

    v.ok(lgcp_test::create_file_player(++v.seq, kPlayer, {"one.al", "missing.al", "../etc/server.conf", "", "two.al"},
                                       2),
         "a file player, repeat 2");
    int const port = v.last_port();
    v.ok(connect_to(++v.seq, kPlayer, kTrunk), "it connects to slot 4");
    f.equal(v.transmitter(kPlayer), std::to_string(port), "transmitter active");
    f.equal(v.transmitter(kPlayer), "inactive", "then inactive after the second pass");
    v.one_abort(kPlayer, "the end of the list");
    same(f, v.kept(port, 12000), one + two + one + two, "one, two, one, two and nothing else");
    f.equal(v.state(port), "port=" + std::to_string(port) + " mode=2 size=1024 rx=0 tx=5 written=12000", "12000 written");

    // Nothing in the list plays: the connect fails and one abort follows.
    v.ok(lgcp_test::create_file_player(++v.seq, 11, {"missing.al", "nope.al"}, 1), "a player of missing names");
    f.equal(v.error(connect_to(++v.seq, 11, kOtherTrunk)), kConnectFail, "its connect fails");
    v.one_abort(11, "all missing");
    v.ok(lgcp_test::create_file_player(++v.seq, 12, {"empty.al", "missing.al"}, 0), "repeat 0 of an empty file");
    f.equal(v.error(connect_to(++v.seq, 12, kOtherTrunk)), kConnectFail, "its connect fails");
    v.one_abort(12, "an empty file");

    // Without end.
    v.ok(lgcp_test::create_file_player(++v.seq, 13, {"one.al", "missing.al"}, 0), "repeat 0 of one.al");
    int const endless = v.last_port();
    v.ok(connect_to(++v.seq, 13, kOtherTrunk), "it connects to slot 3");
    f.check(eventually([&] {
              std::string const line = v.state(endless);
              auto const at = line.find("written=");
              return at != std::string::npos && std::atol(line.c_str() + at + 8) > 3 * 2000;
            }),
            "more than three lists are written");
    f.check(!v.c.signal(abort_on(13), 300), "no abort");
    v.board.ok("clear");
    v.ok(destroy(++v.seq, 13), "the endless player is destroyed");
    f.check(eventually([&] { return !v.board.requests("mcc/ctl", "close").empty(); }), "its channel is closed");

    v.board.ok("clear");
    v.board.ok("fail mcc/ctl ioctl MCC_ALLOCATE ENOSPC once");
    f.equal(v.error(lgcp_test::create_file_player(++v.seq, 14, {"one.al"}, 1)), kInsufficientResources,
            "no channel left");
    f.check(v.shows("voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n", 1), "the failure is logged");
    f.check(eventually([&] { return v.board.requests("mcc/ctl", "close").size() == 1; }), "the open is closed");
  });
  EXPECT_EQ(failed, "");
}

TEST(VoiceRecorders, ARecorderStreamsItsChannelToEachNewConnection) {
  std::string const failed = run_voice([](Voice& v) {
    test::Failures& f = v.f;
    test::TcpHost host;
    std::string const connected = "connected to " + host.address() + ".\n";
    v.ok(lgcp_test::create_recorder(++v.seq, kRecorder, "127.0.0.1", host.port()), "a recorder on slot 21");
    int const port = v.last_port();
    std::string const name = "recorder[" + std::to_string(port) + "]: ";
    f.equal(v.stream(LGCP::Signal::receiver::id, kRecorder), std::to_string(port), "receiver active with its port");

    v.board.ok("clear");
    v.ok(connect_to(++v.seq, kOtherTrunk, kRecorder), "trunk slot 3 feeds it");
    v.equal_log("hal", "ioctl connect", {"/dev/hal ioctl connect output=" + std::to_string(port) + " input=37"},
                "the channel takes trunk {1,5}");
    Fd first = host.accept();
    f.check(first.is_valid() && v.shows(name + connected, 1), "one connection");
    f.check(!host.pending(200), "only one");

    // A second of 1000 Hz in records of the channel's packet size.
    std::string const tone = read_file("/usr/local/voice/tone.al");
    for (std::size_t at = 0; at < tone.size(); at += 1024)
      v.board.ok("set mcc/ctl " + std::to_string(port) + " inject " + hex_of(tone.substr(at, 1024)));
    std::string const got = test::read_bytes(first, tone.size());
    same(f, got, tone, "the host gets the 8000 bytes exactly");
    write_file("/var/log/got.al", got);
    std::string const stat = "sox -t al -r 8000 -c 1 /var/log/got.al -n stat 2>/var/log/stat";
    f.check(std::system(stat.c_str()) == 0, "sox reads what the host got");
    std::string const report = read_file("/var/log/stat");
    auto const at = report.find("Rough   frequency:");
    long const frequency = at == std::string::npos ? 0 : std::atol(report.c_str() + at + 18);
    f.check(frequency >= 950 && frequency <= 1050, "a tone of 1000 Hz, not " + std::to_string(frequency));

    // A new source: a new connection, and the first one ends once it is up.
    v.ok(disconnect(++v.seq, kRecorder), "disconnect slot 21");
    v.ok(connect_to(++v.seq, kTrunk, kRecorder), "trunk slot 4 feeds it");
    Fd second = host.accept();
    f.check(second.is_valid() && v.shows(name + connected, 2), "a second connection");
    f.check(test::reads_end(first), "the first reads end of file");

    second.close();
    v.board.ok("set mcc/ctl " + std::to_string(port) + " inject " + hex_of(tone.substr(0, 1024)));
    f.equal(v.stop_cause(kRecorder), kUserRequest, "stopRecording userRequest for a host's close");
    f.check(v.shows(name + "connection to " + host.address() + " closed.\n", 1), "the close is logged");

    v.ok(disconnect(++v.seq, kRecorder), "disconnect slot 21");
    v.ok(connect_to(++v.seq, kTrunk, kRecorder), "connect it again");
    Fd third = host.accept();
    f.check(third.is_valid() && v.shows(name + connected, 3), "a third connection");
    test::reset(third);
    f.equal(v.stop_cause(kRecorder), kConnectionAborted, "stopRecording connectionAborted for a reset");
    f.check(v.shows(name + "record aborted\n", 1), "the abort is logged");

    test::ReservedPort closed;
    v.ok(lgcp_test::create_recorder(++v.seq, 22, "127.0.0.1", closed.port()), "a recorder of a closed port");
    v.ok(connect_to(++v.seq, kOtherTrunk, 22), "trunk slot 3 feeds it");
    f.equal(v.stop_cause(22), kConnectionFail, "stopRecording connectionFail");

    // A network player feeds the recorder.
    test::TcpHost source;
    v.ok(disconnect(++v.seq, kRecorder), "disconnect slot 21");
    v.ok(lgcp_test::create_network_player(++v.seq, kPlayer, "127.0.0.1", source.port(), 5), "a network player");
    v.ok(connect_to(++v.seq, kPlayer, kRecorder), "the player feeds the recorder");
    Fd played = source.accept();
    Fd recorded = host.accept();
    f.check(played.is_valid() && recorded.is_valid(), "both hosts accept");
    f.check(v.shows(name + connected, 4) && v.c.signal(start_playing_on(kPlayer)).has_value(), "both streams run");
    std::string const two = read_file("/usr/local/voice/two.al");
    f.equal(test::read_bytes(played, 4).size(), 4u, "the player's id");
    f.check(test::send_all(played, two), "the player's host sends two.al");
    played.close();
    same(f, test::read_bytes(recorded, two.size()), two, "the recorder's host gets two.al");
    f.check(test::read_bytes(recorded, 1, 300).empty(), "and nothing more");
    f.check(!v.c.signal(
                on_slot(kRecorder, [](LGCP::Message const& m) { return lgcp_test::abort_of(m).has_value(); }), 100),
            "a recorder sends no abort");

    f.equal(v.error(connect_to(++v.seq, kTrunk, kPlayer)), kConnectFail, "a player receives nothing");
    f.equal(v.error(connect_to(++v.seq, kRecorder, kOtherTrunk)), kConnectFail, "a recorder sends nothing");
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
