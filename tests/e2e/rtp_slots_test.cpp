// RTP slots in the running daemon, seen from every end: the controller's answers and
// signals, the requests the stand-in's drivers received, the RTCP a UDP peer gets, and the
// whole session on the wire as tshark dissects it, its controller bodies read by Erlang.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <csignal>
#include <cstdio>
#include <optional>
#include <sstream>

#include "asn1/coder_env.h"
#include "tests/e2e/checks.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/erlang_check.h"
#include "tests/e2e/scene.h"
#include "tests/oracle/tshark_tpkt.h"
#include "tests/schemas/oracle/wire_oracle.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/child_process.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;
using lgcp_test::RtpCreate;
using Lines = std::vector<std::string>;

constexpr int kQuietMs = 300;
constexpr int kPeerPort = 40001;
constexpr int kSlot8Rtcp = 40011;
constexpr char kSsrc7[] = "0x01020304";

// The RTCP peer of slot 7: a UDP socket on 127.0.0.1:40001.
class Peer {
public:
  Peer() : m_fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(kPeerPort);
    m_bound = ::bind(m_fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  bool bound() const { return m_bound; }
  // The next datagram within wait_ms, its source port in *from.
  std::optional<std::string> receive(int wait_ms, int* from = nullptr) {
    pollfd record{m_fd.lowlevel_fd(), POLLIN, 0};
    if (::poll(&record, 1, wait_ms) != 1) return std::nullopt;
    char buf[2048];
    sockaddr_in source{};
    socklen_t size = sizeof source;
    ssize_t const got = ::recvfrom(m_fd.lowlevel_fd(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&source), &size);
    if (got < 0) return std::nullopt;
    if (from) *from = ntohs(source.sin_port);
    return std::string(buf, static_cast<std::size_t>(got));
  }

private:
  Fd m_fd;
  bool m_bound = false;
};

LGCP::Message create_rtp(int seq, int slot, RtpCreate const& r) {
  return command(seq, slot, [&](LGCP::Command& c) { c.select_create(lgcp_test::create_params(r)); });
}

LGCP::Message ioctl(int seq, int slot, std::function<void(LGCP::IoctlParams&)> const& fill) {
  return command(seq, slot, [&](LGCP::Command& c) { fill(c.select_ioctl()); });
}

// The signal of this alternative for this slot, or null.
std::optional<LGCP::Message> signal(Controller& c, int alternative, int slot) {
  return c.signal(signal_of(alternative, slot));
}

struct Scene {
  Daemon& daemon;
  Controller& c;
  test::BoardSimClient& board;
  test::Failures& f;
  Peer& peer;
  int seq = 0;
  int create7_seq = 0;
  std::string ssrc8;  // slot 8's source, as tshark writes it

  void capacity() {
    for (char const* line : {"set voice 4 7", "set voice 2 5", "set voice 1 3", "set voice 8 2", "set voice 65 1"})
      board.ok(line);
    board.ok("clear");
    answered(c, f, query(++seq), "query");
    auto const s = signal(c, LGCP::Signal::query::id, -1);
    f.check(s.has_value(), "the resources report");
    if (s) {
      LGCP::Resources const& r = s->get_pdu().get_signal().get_query();
      std::ostringstream counts;
      counts << r.get_rtp_g729().getValue() << ' ' << r.get_rtp_g723().getValue() << ' '
             << r.get_rtp_g711().getValue() << ' ' << r.get_rtp_g711mcc().getValue() << ' '
             << r.get_universal().getValue();
      f.equal(counts.str(), "7 5 3 2 1", "g729 g723 g711 g711mcc universal");
    }
    f.equal(::testing::PrintToString(board.requests("voice", "ioctl capacity")),
            ::testing::PrintToString(Lines{"/dev/voice ioctl capacity mask=4 result=7",
                                           "/dev/voice ioctl capacity mask=2 result=5",
                                           "/dev/voice ioctl capacity mask=1 result=3",
                                           "/dev/voice ioctl capacity mask=8 result=2",
                                           "/dev/voice ioctl capacity mask=65 result=1"}),
            "one capacity request per mask, in the factory's order");
  }

  void create_slot7() {
    answered(c, f, create_trunk(++seq, 3, 1, 5), "trunk {1,5} on slot 3");
    RtpCreate r;
    r.dhost = {"127.0.0.1", 40000};
    r.shost = lgcp_test::Host{"127.0.0.1", 30000};
    r.ssrc = 16909060;
    r.qos = TERM::IpQoSDSCP::ef;
    r.ttl = 16;
    r.echo = {true, true};
    board.ok("clear");
    create7_seq = ++seq;
    answered(c, f, create_rtp(create7_seq, 7, r), "rtp on slot 7");
    f.equal(next_stream(c, 7), "transmitter 2048", "slot 7 transmits on the driver's channel");
    f.equal(next_stream(c, 7), "receiver 2048", "and receives on it");
    f.equal(::testing::PrintToString(board.requests("rtp", "open")),
            ::testing::PrintToString(Lines{"/dev/rtp open flags=O_RDONLY"}), "the session's open");
    f.equal(::testing::PrintToString(board.requests("rtp", "ioctl begin")),
            ::testing::PrintToString(Lines{"/dev/rtp ioctl begin dst=127.0.0.1:40000 src=127.0.0.1:30000 rx_pt=8 "
                                           "tx_pt=8 pf=0 vad=0 crate=0 ssrc=16909060 ttl=16 tos=184"}),
            "the session begun");
    f.equal(::testing::PrintToString(board.requests("rtp", "ioctl add-channel")),
            ::testing::PrintToString(Lines{"/dev/rtp ioctl add-channel tdm=-1 dev_no=-1 chn=-1 got=2048"}),
            "the channel added");
    f.equal(::testing::PrintToString(board.requests("dtmf", "ioctl CHANNEL_LMS_ON")),
            ::testing::PrintToString(Lines{"/dev/dtmf ioctl CHANNEL_LMS_ON value=0x800"}), "the echo canceller on");
    int from = 0;
    auto const sdes = peer.receive(5000, &from);
    f.check(sdes && sdes->size() > 8 && sdes->substr(0, 2) == "\x81\xca" && sdes->substr(4, 4) == "\x01\x02\x03\x04",
            "the peer gets the SDES of 16909060");
    f.equal(from, 30001, "from shost's RTP port + 1");
  }

  void connections() {
    board.ok("clear");
    answered(c, f, connect_to(++seq, 3, 7), "slot 3 feeds slot 7");
    f.check(in_order(board.requests(), {"/dev/rtp ioctl tx-start value=0x0", "/dev/hal ioctl connect output=2048 input=37"}),
            "transmission starts, then the switch feeds 2048 from 37");
    board.ok("clear");
    answered(c, f, connect_to(++seq, 7, 3), "slot 7 feeds slot 3");
    f.check(in_order(board.requests("hal", "ioctl connect"), {"/dev/hal ioctl connect output=37 input=2048"}),
            "the switch feeds 37 from 2048");
    board.ok("clear");
    answered(c, f, disconnect(++seq, 7), "slot 7 loses its source");
    f.check(in_order(board.requests(), {"/dev/hal ioctl write output=2048 byte=0xd5", "/dev/rtp ioctl tx-stop value=0x0"}),
            "2048 gets the idle byte, then transmission stops");
  }

  void events() {
    answered(c, f, ioctl(++seq, 7, [](auto& p) { p.select_dtmf_enable(true); }), "dtmf-enable");
    board.ok("set dtmf event 2048 5 1000");
    auto s = signal(c, LGCP::Signal::tonec::id, 7);
    f.check(s && s->get_pdu().get_signal().get_tonec().get_event().dtmf_isSelected() &&
                s->get_pdu().get_signal().get_tonec().get_event().get_dtmf().getValue() == 5 &&
                s->get_pdu().get_signal().get_tonec().get_timestamp().getValue() == 1000,
            "dtmf 5 at 1000 for slot 7");
    board.ok("set dtmf event 2048 5 1000 999");
    f.check(daemon.wait_output(" code=5 id=999 rid="), "a wrong id is dropped with the receiver's id");

    answered(c, f, ioctl(++seq, 7, [](auto& p) { p.select_vad_enable(true); }), "vad-enable");
    board.ok("set dsp event 2048 vad 1 1 0");
    s = signal(c, LGCP::Signal::vad::id, 7);
    f.check(s && s->get_pdu().get_signal().get_vad().get_vad_rx() &&
                !s->get_pdu().get_signal().get_vad().vad_tx_isPresent(),
            "vad rx true for slot 7");
    board.ok("set dsp event 2048 flags 0xa0000000 0xe0000000");
    s = signal(c, LGCP::Signal::vad::id, 7);
    f.check(s && s->get_pdu().get_signal().get_vad().get_vad_rx() && !s->get_pdu().get_signal().get_vad().get_vad_tx(),
            "the flags' vad {rx true, tx false}");
    s = signal(c, LGCP::Signal::selcal::id, 7);
    f.check(s && s->get_pdu().get_signal().get_selcal().get_in_progress(), "then selcal in progress");
    board.ok("set dsp event 2048 tone 2100 1");
    s = signal(c, LGCP::Signal::tonec::id, 7);
    f.check(s && s->get_pdu().get_signal().get_tonec().get_event().tone_presence_isSelected() &&
                s->get_pdu().get_signal().get_tonec().get_event().get_tone_presence().get_freq().getValue() == 2100,
            "the tone filter's tone-presence 2100");
    board.ok("set dsp event 2048 bss 1.5");
    f.check(daemon.wait_output("ignore spurious dsproc bss event (dsproc disabled): "), "BSS is dropped, traced");
    f.check(c.quiet(kQuietMs), "and says nothing to the controller");

    answered(c, f, ioctl(++seq, 7, [](auto& p) { p.select_pd_enable().set_timeout(500); }), "pd-enable 500");
    board.ok("set rtp event 2048 1 3 500");
    s = signal(c, LGCP::Signal::rtp::id, 7);
    f.check(s && s->get_pdu().get_signal().get_rtp().get_pd().get_value().getValue() == 3 &&
                s->get_pdu().get_signal().get_rtp().get_pd().get_timeout().getValue() == 500,
            "rtp pd {3, 500}");
    board.ok("set rtp event 2048 2 3 500");
    f.check(daemon.wait_output("rtp[2048]: rtp event:  type=2\n"), "type 2 is logged");
    f.check(c.quiet(kQuietMs), "and not signalled");
  }

  void digits() {
    board.ok("clear");
    answered(c, f, ioctl(++seq, 7, [](auto& p) {
               LGCP::TranslateDtmfParams& t = p.select_translateDTMF();
               for (auto [f1, f2] : {std::pair{697, 1209}, {941, 1477}}) {
                 LGCP::DualTone tone;
                 tone.set_freq1(f1);
                 tone.set_freq2(f2);
                 t.ref_digits().push_back(tone);
               }
             }),
             "translateDTMF 1#");
    Lines dials;
    eventually([&] { return (dials = board.ok("log dtmf ioctl DTMF_DIAL")).size() >= 6; }, 5000);
    Lines const expected = {"f1=697 f2=1209 a1=16384 a2=16384", "f1=1000 f2=1000 a1=0 a2=0",
                            "f1=941 f2=1477 a1=16384 a2=16384", "f1=1000 f2=1000 a1=0 a2=0", "f1=0 f2=0 a1=0 a2=0"};
    Lines tones;
    std::vector<long> times;
    for (std::string const& line : dials) {
      std::size_t const at = line.find(" f1=");
      if (at == std::string::npos) continue;
      tones.push_back(line.substr(at + 1));
      times.push_back(std::stol(line));
    }
    f.equal(::testing::PrintToString(tones), ::testing::PrintToString(expected), "the DTMF_DIAL order");
    for (std::size_t i = 1; i < times.size(); ++i)
      f.check(times[i] - times[i - 1] >= 60, "DTMF_DIAL " + std::to_string(i) + " at least 60 ms after the one before");
    f.check(c.quiet(kQuietMs), "the string's end is not signalled");
  }

  void codec_change() {
    RtpCreate r;
    r.payload = r.rx = TERM::Payload::ptG729;
    r.tx = TERM::Payload::ptG711_Alaw;
    r.dhost = {"127.0.0.1", 40010};
    board.ok("clear");
    answered(c, f, create_rtp(++seq, 8, r), "rtp on slot 8");
    f.equal(next_stream(c, 8), "transmitter 2049", "slot 8 on the next channel");
    f.equal(next_stream(c, 8), "receiver 2049", "both ways");
    Lines const begins = board.requests("rtp", "ioctl begin");
    std::string const begin = begins.empty() ? "" : begins.back();
    std::size_t const at = begin.find("ssrc=");
    std::string const ssrc = at == std::string::npos ? "0" : begin.substr(at + 5, begin.find(' ', at) - at - 5);
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lx", std::stoul(ssrc));
    ssrc8 = hex;

    board.ok("clear");
    answered(c, f, ioctl(++seq, 8, [](auto& p) { p.select_encoder_mode(LGCP::CodecMode::lbrc); }),
             "encoder-mode lbrc on slot 8");
    f.equal(::testing::PrintToString(board.requests("rtp")),
            ::testing::PrintToString(Lines{"/dev/rtp close", "/dev/rtp open flags=O_RDONLY",
                                           "/dev/rtp ioctl begin dst=127.0.0.1:40010 src=0.0.0.0:40010 rx_pt=18 "
                                           "tx_pt=18 pf=0 vad=0 crate=0 ssrc=" + ssrc + " ttl=0 tos=-1",
                                           "/dev/rtp ioctl add-channel tdm=2049 dev_no=-1 chn=-1 got=2049"}),
            "the old session closes, the new one begins on the same channel");
    f.check(daemon.wait_output(" - OK\n"), "the restart's line");
    board.ok("set rtp event 2049 1 7 100");
    auto const s = signal(c, LGCP::Signal::rtp::id, 8);
    f.check(s && s->get_pdu().get_signal().get_rtp().get_pd().get_value().getValue() == 7,
            "the new session's events are read");
    board.ok("clear");
    answered(c, f, ioctl(++seq, 8, [](auto& p) { p.select_encoder_mode(LGCP::CodecMode::lbrc); }), "lbrc again");
    f.check(daemon.wait_output(" - Nothing to do\n"), "nothing to do");
    f.equal(board.requests("rtp", "open").size(), 0u, "and no open");
  }

  void destroy_slot7() {
    answered(c, f, ioctl(++seq, 7, [](auto& p) { p.select_activateWaitTone(); }), "activateWaitTone");
    board.ok("clear");
    answered(c, f, destroy(++seq, 7), "destroy slot 7");
    f.check(in_order(board.requests(),
                     {"/dev/rtp ioctl teardown-1 value=0x0", "/dev/rtp ioctl teardown-2 value=0x0",
                      "/dev/rtp ioctl teardown-3 value=0x0", "/dev/rtp ioctl pd-reset value=1",
                      "/dev/hal ioctl disable output=2048", "/dev/dtmf ioctl DTMF_DISABLE_DETECTOR value=0x800",
                      "/dev/dtmf ioctl DTMF_DIAL ts=2048 f1=0 f2=0 a1=0 a2=0",
                      "/dev/dsp ioctl DSPROC_DISABLE ts=2048 mask=0x100"}),
            "the teardown, the switch, then the receivers' clean, in order:\n" +
                ::testing::PrintToString(board.requests()));
    f.equal(peer.receive(5000).value_or(""), std::string("\x81\xcb\x00\x04\x01\x02\x03\x04\x0bsession end", 20),
            "the peer gets the BYE of 16909060");
    f.check(!peer.receive(kQuietMs), "and nothing more");
  }
};

// One line of tshark's fields over the capture.
struct Frame {
  int number = 0;
  std::string src, dst, pt, sc, ssrc, types, text, malformed, severity, payload;
};

std::vector<Frame> dissect(std::string const& folder, std::string const& file, test::Failures& f) {
  std::vector<std::string> argv = {"tshark", "-r", file, "-d", "udp.port==" + std::to_string(kPeerPort) + ",rtcp",
                                   "-d", "udp.port==" + std::to_string(kSlot8Rtcp) + ",rtcp",
                                   "-T", "fields", "-E", "occurrence=a", "-E", "aggregator=|"};
  for (char const* field : {"frame.number", "udp.srcport", "udp.dstport", "rtcp.pt", "rtcp.sc", "rtcp.ssrc.identifier",
                            "rtcp.sdes.type", "rtcp.sdes.text", "_ws.malformed", "_ws.expert.severity",
                            "tcp.payload", "tcp.srcport"}) {
    argv.push_back("-e");
    argv.push_back(field);
  }
  test::ChildProcess tshark(argv, folder + "/fields.txt", folder + "/fields.err");
  int status = 0;
  f.check(tshark.wait(120000, &status) && WIFEXITED(status) && WEXITSTATUS(status) == 0,
          "tshark -r: " + test::read_file(folder + "/fields.err"));
  std::vector<Frame> frames;
  std::istringstream lines(test::read_file(folder + "/fields.txt"));
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> const v = test::split(line, '\t');
    if (v.size() != 12) {
      f.check(false, "tshark line: " + line);
      continue;
    }
    Frame frame{std::stoi(v[0]), v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10]};
    if (frame.src.empty()) frame.src = v[11];
    frames.push_back(frame);
  }
  return frames;
}

// The frame of the daemon's TCP segment that carries `body`, or 0.
int segment_with(std::vector<Frame> const& frames, std::string const& body) {
  std::string const wanted = oracle::hex(std::vector<char>(body.begin(), body.end()));
  for (Frame const& frame : frames) {
    if (frame.src != std::to_string(kPort) || frame.payload.empty()) continue;
    std::string payload;
    for (char const ch : frame.payload)
      if (ch != ':') payload += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::string lower;
    for (char const ch : wanted) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (payload.find(lower) != std::string::npos) return frame.number;
  }
  return 0;
}

// The body of the daemon's answer to `seq`.
std::string answer_body(Controller const& c, int seq) {
  for (std::string const& body : c.bodies_received()) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    LGCP::Message m;
    if (ASN1::decode(body.data(), body.data() + body.size(), &env, m, true) && m.get_pdu().response_isSelected() &&
        m.seq_isPresent() && static_cast<int>(m.get_seq().getValue()) == seq)
      return body;
  }
  return {};
}

void check_wire(std::vector<Frame> const& frames, Scene const& scene, Controller const& c, test::Failures& f) {
  std::vector<Frame> rtcp;
  for (Frame const& frame : frames) {
    if (frame.pt.empty()) continue;
    rtcp.push_back(frame);
    f.check(frame.malformed.empty() && frame.severity.empty(),
            "RTCP frame " + std::to_string(frame.number) + " is malformed or has an expert item");
  }
  auto find = [&](std::string const& pt, std::string const& src, std::string const& ssrc) -> Frame const* {
    for (Frame const& frame : rtcp)
      if (frame.pt == pt && frame.src == src && frame.ssrc == ssrc) return &frame;
    return nullptr;
  };
  Frame const* const sdes7 = find("202", "30001", kSsrc7);
  f.check(sdes7 != nullptr, "slot 7's SDES from 30001");
  if (sdes7) {
    f.equal(sdes7->dst, std::to_string(kPeerPort), "to the peer");
    f.equal(sdes7->sc, "1", "one source");
    f.equal(sdes7->types, "1|3|4|0", "CNAME, EMAIL, PHONE and the end");
    f.check(sdes7->text.starts_with("Korvent Tessaline|"), "the CNAME: " + sdes7->text);
    int const success = segment_with(frames, oracle::frame_of(answer_body(c, scene.create7_seq)));
    f.check(success > 0 && sdes7->number < success, "the SDES leaves before the create's success (frame " +
                                                         std::to_string(success) + ")");
  }
  Frame const* const sdes8 = find("202", std::to_string(kSlot8Rtcp), scene.ssrc8);
  f.check(sdes8 != nullptr, "slot 8's SDES from 40011 with " + scene.ssrc8);
  for (auto [src, ssrc] : {std::pair<std::string, std::string>{"30001", kSsrc7}, {std::to_string(kSlot8Rtcp), scene.ssrc8}}) {
    Frame const* const bye = find("203", src, ssrc);
    f.check(bye && bye->text == "session end", "the BYE \"session end\" of " + ssrc);
  }
}

TEST(RtpSlots, SessionsOnTheSwitchTheirRtcpAndTheirEvents) {
  EXPECT_EQ(in_scene([]() -> std::string {
              DaemonOptions options;
              options.configuration = "[traces]\nsignalling.events=1\n";
              Daemon daemon(options);
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              oracle::TempDir folder;
              oracle::Capture capture(folder.path(), kPort, "udp or tcp port " + std::to_string(kPort));
              capture.start();
              if (::testing::Test::HasFailure()) return "tshark did not start";
              Peer peer;
              if (!peer.bound()) return "the peer cannot bind 127.0.0.1:40001";
              Controller c;
              if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
              test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
              test::Failures f;
              Scene scene{daemon, c, board, f, peer, 0, 0, {}};
              scene.capacity();
              scene.create_slot7();
              scene.connections();
              scene.events();
              scene.digits();
              scene.codec_change();
              scene.destroy_slot7();

              // The controller goes: slot 8 says BYE too.
              c.close();
              f.check(eventually([&] { return board.ok("state rtp") == Lines{"sessions=0 channels="}; }, 5000),
                      "every session closed after the controller left");
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              capture.stop();
              check_wire(dissect(folder.path(), capture.file(), f), scene, c, f);

              std::unique_ptr<oracle::ErlangCodec> const erlang = wire_oracle::start_codec();
              if (!erlang->failure().empty()) return f.result() + erlang->failure();
              return f.result() + erlang_reads_alike(*erlang, c.bodies_sent(), "to the daemon") +
                     erlang_reads_alike(*erlang, c.bodies_received(), "from the daemon");
            }),
            "");
}

}  // namespace
