// HDLC and MCC data slots in server-sim, driven over TCP: an HDLC slot on an MCC slot's
// line, frames both ways through the stand-in's HDLC controller, the controller's
// resources, and what the stand-in was asked.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <string>
#include <vector>

#include "asn1/coder_env.h"
#include "tests/e2e/channel_scene.h"
#include "tests/server/channel_commands.h"

namespace {

using namespace e2e;
using Bodies = std::vector<std::string>;
using Clock = std::chrono::steady_clock;
using lgcp_test::hdlc_packages;
using lgcp_test::user_data;

constexpr int kMcc = 5;
constexpr int kHdlc = 6;
constexpr int kInsufficientResources = 1;

std::string bytes(std::vector<int> const& values) { return std::string(values.begin(), values.end()); }

// The statistics signalled last before the answer of `seq`, among the bodies from `from` on.
std::string last_before_answer(std::vector<std::string> const& bodies, std::size_t from, int seq) {
  std::string last = "none";
  for (std::size_t i = from; i < bodies.size(); ++i) {
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    LGCP::Message m;
    if (!ASN1::decode(bodies[i].data(), bodies[i].data() + bodies[i].size(), &env, m, true)) return "undecodable";
    if (m.get_pdu().response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == seq) return last;
    last = "other";
    if (auto const info = lgcp_test::link_info_of(m)) {
      last = "hdlcLinkInfo";
      for (int n : *info) last += " " + std::to_string(n);
    }
  }
  return "no answer";
}

bool is_batch(LGCP::Message const& m) { return lgcp_test::slot_of(m) == kHdlc && lgcp_test::packages_of(m); }
bool is_link_info(LGCP::Message const& m) { return lgcp_test::slot_of(m) == kHdlc && lgcp_test::link_info_of(m); }
bool is_line_data(LGCP::Message const& m) { return lgcp_test::slot_of(m) == kMcc && lgcp_test::user_data_of(m); }

// The scene with the checks on an HDLC slot on an MCC slot's line.
struct Line : ChannelScene {
  explicit Line(ChannelScene const& scene) : ChannelScene(scene) {}

  // The next batch of the HDLC slot, as hex.
  Bodies batch(int wait_ms = 5000) {
    auto const s = c.signal(is_batch, wait_ms);
    Bodies text;
    if (auto const bodies = s ? lgcp_test::packages_of(*s) : std::nullopt)
      for (std::string const& b : *bodies) text.push_back(lgcp_test::hex_text(b));
    return text;
  }
  // The next frame the MCC slot received, as hex.
  std::string line_data() {
    auto const s = c.signal(is_line_data);
    return s ? lgcp_test::hex_text(*lgcp_test::user_data_of(*s)) : "none";
  }
  void line_sends(std::vector<int> const& frame) {
    f.check(command(user_data(++seq, kMcc, bytes(frame))),
            "userData " + lgcp_test::hex_text(bytes(frame)) + " is answered success");
  }
  std::vector<int> resources() {
    c.send(query(++seq));
    auto const r = c.response(seq);
    auto const s = c.signal(signal_of(LGCP::Signal::query::id));
    if (!r || !s) return {};
    LGCP::Resources const& q = s->get_pdu().get_signal().get_query();
    return {q.get_mcc_data().getValue(), q.get_mcc_bri().getValue(), q.get_mcc_trans().getValue(),
            q.get_t38_instances().getValue()};
  }
  // The open, allocation and port of the channel allocated since the log was cleared.
  void allocated(std::string const& allocation, int port, std::string const& what) {
    equal_log("mcc/ctl", "open", {"/dev/mcc/ctl open flags=O_RDWR|O_NONBLOCK"}, what + ": the open");
    equal_log("mcc/ctl", "ioctl MCC_ALLOCATE", {"/dev/mcc/ctl ioctl MCC_ALLOCATE " + allocation}, what + ": the record");
    equal_log("mcc/ctl", "ioctl MCC_TIMESLOT",
              {"/dev/mcc/ctl ioctl MCC_TIMESLOT value=0x0 result=" + std::to_string(port)}, what + ": the port");
  }
};

std::string with_line(std::function<void(Line&)> const& body) {
  return in_channel_scene([&](ChannelScene& scene) {
    Line line(scene);
    body(line);
  });
}

TEST(FrameChannels, AnHdlcSlotOnAnMccSlotsLine) {
  std::string const failed = with_line([](Line& l) {
    Controller& c = l.c;
    test::Failures& f = l.f;
    l.board.ok("clear");
    f.check(l.command(lgcp_test::create_mcc(1, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)),
            "mcc {data, standard} on slot 5");
    l.allocated("mode=0 size=512 reserved=0 rx=1 tx=1", 1024, "the MCC slot's channel");
    f.check(l.daemon.wait_output("mcc: MCC_ALLOCATE type=0\n"), "the allocation's type is logged");
    f.check(l.command(lgcp_test::create_hdlc(2, kHdlc, 1, 0, 4660)), "hdlcParams {1, 0, 4660} on slot 6");
    l.equal_log("mcc/ctl", "open", {"/dev/mcc/ctl open flags=O_RDWR|O_NONBLOCK"}, "the HDLC slot opens nothing yet");

    l.board.ok("clear");
    f.check(l.command(connect_to(3, kMcc, kHdlc)), "slot 5 connects to slot 6");
    auto s = c.signal(signal_of(LGCP::Signal::transmitter::id, kMcc));
    f.check(s && s->get_pdu().get_signal().get_transmitter().get_active().getValue() == 1024,
            "slot 5's transmitter is active on 1024");
    s = c.signal(signal_of(LGCP::Signal::receiver::id, kHdlc));
    f.check(s && s->get_pdu().get_signal().get_receiver().get_active().getValue() == -1,
            "slot 6's receiver is active on -1");
    l.allocated("mode=0 size=512 reserved=0 rx=1 tx=4", 1025, "the HDLC slot's channel");
    l.equal_log("hal", "ioctl connect",
                {"/dev/hal ioctl connect output=1024 input=1025", "/dev/hal ioctl connect output=1025 input=1024"},
                "transmit path, then receive path");
    auto const state = l.board.ok("state mcc/ctl");
    f.check(!state.empty() && state.back() == "free data=14 bri=8 transparent=16", "two data channels taken");
    f.check(l.resources() == std::vector<int>{14, 8, 16, 4},
            "query: mcc-data 14, mcc-bri 8, mcc-trans 16, t38-instances 4");

    // Frames out: the link header, the counters.
    f.check(l.command(hdlc_packages(++l.seq, kHdlc, {bytes({0x01, 0x80, 0xAA}), bytes({0x02, 0x00, 0xBB})})),
            "hdlcPackages is answered success");
    f.equal(l.line_data(), "12 34 00 01 80 AA", "the first frame on the line");
    f.equal(l.line_data(), "12 34 20 02 00 BB", "the second frame on the line");

    // Frames in: a batch of three, then the peer's counter in the next frame out.
    l.line_sends({0x12, 0x34, 0xA0, 0x05, 0x80, 0x01});
    l.line_sends({0x12, 0x34, 0xA0, 0x06, 0x80, 0x02});
    l.line_sends({0x12, 0x34, 0xA0, 0x07, 0x00, 0x03});
    f.check(l.batch() == Bodies{"05 80 01", "06 80 02", "07 00 03"}, "one batch of three");
    f.check(l.command(hdlc_packages(++l.seq, kHdlc, {bytes({0x09, 0x00})})), "hdlcPackages [09 00]");
    f.equal(l.line_data(), "12 34 45 09 00", "the peer's send counter 5 comes back");

    auto const sent = Clock::now();
    l.line_sends({0x12, 0x34, 0x00, 0x08, 0x80});
    Bodies const late = l.batch();
    auto const waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    f.check(late == Bodies{"08 80"}, "a frame announcing more, alone, is reported");
    f.check(waited >= 100 && waited < 3000, "no sooner than 100 ms (" + std::to_string(waited) + " ms)");

    l.line_sends({0x12, 0x34, 0x00, 0x0A, 0x80});
    l.line_sends({0x43, 0x21, 0x00, 0x0B, 0x00});
    f.check(l.batch() == Bodies{"0A 80"}, "another address's frame ends the batch without joining it");
    l.line_sends({0x12, 0x34});
    f.check(l.daemon.wait_output("HdlcSlot[0/*]: frame of 2 bytes without a link header: dropped\n"),
            "a frame without its header is dropped with a line");
    f.check(l.command(ping(++l.seq)), "the daemon still answers");
    l.line_sends({0x12, 0x34, 0x00, 0x0C});
    f.check(l.batch() == Bodies{"0C"}, "a body without a flag byte is reported at once, and nothing came between");

    // A frame the channel refuses leaves the queue; a full device keeps its frame.
    l.board.ok("clear");
    f.check(l.command(hdlc_packages(++l.seq, kHdlc, {std::string(600, 'x'), bytes({0x0D, 0x00})})),
            "hdlcPackages [600 bytes, 0D 00]");
    f.equal(l.line_data(), "12 34 80 0D 00", "the frame behind the refused one");
    auto const writes = l.board.requests("mcc/ctl", "write");
    f.check(!writes.empty() && writes[0].find("len=603 -> EMSGSIZE") != std::string::npos, "the 603-byte write refused");
    l.board.ok("fail mcc/ctl write EAGAIN once");
    f.check(l.command(hdlc_packages(++l.seq, kHdlc, {bytes({0x0E, 0x00})})), "hdlcPackages [0E 00]");
    f.equal(l.line_data(), "12 34 A0 0E 00", "sent once the device takes writes");

    // Statistics: the periodic ones set aside, then one with the answer to deactivate.
    while (c.signal(is_link_info, 0)) {
    }
    std::size_t const before = c.bodies_received().size();
    f.check(l.command(lgcp_test::deactivate(++l.seq, kHdlc)), "deactivate is answered success");
    auto const reported = Clock::now();
    f.check(last_before_answer(c.bodies_received(), before, l.seq) == "hdlcLinkInfo 5 0 1 0 8",
            "the last signal before the answer: hdlcLinkInfo {5, 0, 1, 0, 8}");
    while (c.signal(is_link_info, 0)) {
    }
    auto const info = c.signal(is_link_info, 6000);
    auto const next = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - reported).count();
    f.check(info && next >= 2500, "the next statistics no sooner than 2500 ms after (" + std::to_string(next) + " ms)");

    l.board.ok("clear");
    f.check(l.command(disconnect(++l.seq, kHdlc)), "slot 6 disconnects");
    l.equal_log("hal", "ioctl write", {"/dev/hal ioctl write output=1024 byte=0xd5"}, "the line's channel idles");
    l.equal_log("mcc/ctl", "close", {"/dev/mcc/ctl close"}, "the HDLC channel closes");
    f.check(l.resources().at(0) == 15, "query: mcc-data 15");
    f.check(l.command(destroy(++l.seq, kHdlc)) && l.command(destroy(++l.seq, kMcc)), "both slots are destroyed");
    f.check(l.resources().at(0) == 16, "query: mcc-data 16");
  });
  EXPECT_EQ(failed, "");
}

TEST(FrameChannels, AnEmptyPoolRefusesTheCreate) {
  std::string const failed = with_line([](Line& l) {
    l.board.ok("set mcc/ctl pool 1 8 16");
    l.f.check(l.command(lgcp_test::create_mcc(1, kMcc, LGCP::MccType::data, LGCP::MccMode::standard)),
              "the first data channel");
    l.c.send(lgcp_test::create_mcc(2, kHdlc, LGCP::MccType::data, LGCP::MccMode::standard));
    auto const r = l.c.response(2);
    l.f.check(r && error_of(*r) == kInsufficientResources, "the second: insufficientResources");
    l.f.check(l.daemon.wait_output("mcc: MCC_ALLOCATE fail: No space left on device\n"), "and why");
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
