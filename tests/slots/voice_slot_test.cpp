// Voice players and recorders through the slot table: the channels they allocate and the
// create failures on simulated time; then, on the real clock, streams to and from TCP
// hosts on loopback, and phrase files in a private voice folder.

#include "slots/voice/voice_slot.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "boardsim/request_log.h"
#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "tests/slots/channel_fixture.h"
#include "tests/support/own_process.h"
#include "tests/support/private_mounts.h"
#include "tests/support/tcp_host.h"

namespace {

using BoardSim::Repeat;
using Lines = std::vector<std::string>;
using Match = std::function<bool(LGCP::Message const&)>;

constexpr int kPlayer = 10;
constexpr int kRecorder = 11;
constexpr int kTrunk = 4;  // trunk 0, timeslot 1: switch port 1

LGCP::Message create_trunk(int seq, int slot, unsigned trunk, unsigned timeslot) {
  return lgcp_test::command(seq, slot, [&](LGCP::Command& c) {
    LGCP::TrunkParams& t = c.select_create().select_trunk();
    t.set_trunk(trunk);
    t.set_timeslot(timeslot);
  });
}

LGCP::Message connect(int seq, int source, int receiver) {
  return lgcp_test::command(seq, source, [&](LGCP::Command& c) { c.select_connect(receiver); });
}

LGCP::Message disconnect(int seq, int receiver) {
  return lgcp_test::command(seq, receiver, [](LGCP::Command& c) { c.select_disconnect(); });
}

LGCP::Message destroy(int seq, int slot) {
  return lgcp_test::command(seq, slot, [](LGCP::Command& c) { c.select_destroy(); });
}

// A stream signal of the slot: "transmitter <port>", "receiver inactive", ...
Match stream_of(int slot) {
  return [slot](LGCP::Message const& m) {
    auto const& s = m.get_pdu().get_signal();
    return lgcp_test::slot_of(m) == slot && (s.transmitter_isSelected() || s.receiver_isSelected());
  };
}

std::string stream_text(LGCP::Message const& m) {
  auto const& s = m.get_pdu().get_signal();
  LGCP::Stream const& stream = s.transmitter_isSelected() ? s.get_transmitter() : s.get_receiver();
  return std::string(s.transmitter_isSelected() ? "transmitter " : "receiver ") +
         (stream.active_isSelected() ? std::to_string(stream.get_active().getValue()) : "inactive");
}

// The slot's signals in order, as words: "abort 0", "startPlaying", "stopRecording 2",
// and the stream signals as stream_text writes them.
Lines signals_of(test::ChannelHarness& h, int slot) {
  Lines words;
  for (LGCP::Message const& m : h.take([slot](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot; })) {
    if (auto const cause = lgcp_test::abort_of(m))
      words.push_back("abort " + std::to_string(*cause));
    else if (auto const stop = lgcp_test::stop_recording_of(m))
      words.push_back("stopRecording " + std::to_string(*stop));
    else if (lgcp_test::is_start_playing(m))
      words.push_back("startPlaying");
    else if (stream_of(slot)(m))
      words.push_back(stream_text(m));
    else
      words.push_back("other");
  }
  return words;
}

Match abort_on(int slot) {
  return [slot](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && lgcp_test::abort_of(m); };
}

Match stop_on(int slot) {
  return [slot](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && lgcp_test::stop_recording_of(m); };
}

// The bytes the stand-in kept of what was written on the channel of `port`.
std::string kept_bytes(int port, std::size_t count) {
  std::string bytes;
  for (std::size_t at = 0; at < count; at += BoardSim::Mcc::kMaxDataAnswer) {
    auto const answer = test::switch_board().command(
        Board::kMccControl, "state", {std::to_string(port), "data", std::to_string(at), "4096"});
    if (!answer.error.empty() || answer.lines.size() != 1 || !BoardSim::hex_bytes(answer.lines[0], bytes))
      return "no data: " + answer.error;
  }
  return bytes;
}

std::string pattern(std::size_t size, int step) {
  std::string bytes;
  for (std::size_t i = 0; i < size; ++i) bytes += static_cast<char>(i * static_cast<std::size_t>(step));
  return bytes;
}

// The lines of the controller link's set-up are not the slots'.
class VoiceSlotTest : public test::ChannelFixture {
protected:
  VoiceSlotTest() { streams.clear(); }
};

TEST_F(VoiceSlotTest, EachKindAllocatesItsChannelAndNeitherIsTheOtherEnd) {
  ASSERT_TRUE(command(lgcp_test::create_network_player(++seq, kPlayer, "127.0.0.1", 9, 258)));
  int const player = last_port();
  EXPECT_EQ(logged("/dev/mcc/ctl", "open"), Lines{"flags=O_WRONLY|O_NONBLOCK"});
  EXPECT_EQ(logged("/dev/mcc/ctl", "ioctl MCC_ALLOCATE"), Lines{"mode=2 size=1024 reserved=0 rx=0 tx=5"});
  EXPECT_EQ(logged("/dev/mcc/ctl", "ioctl MCC_TIMESLOT").size(), 2u) << "the factory's check, then the player's";
  ASSERT_TRUE(command(lgcp_test::create_recorder(++seq, kRecorder, "127.0.0.1", 9)));
  int const recorder = last_port();
  EXPECT_EQ(logged("/dev/mcc/ctl", "open").back(), "flags=O_RDONLY|O_NONBLOCK");
  EXPECT_EQ(logged("/dev/mcc/ctl", "ioctl MCC_ALLOCATE").back(), "mode=2 size=1024 reserved=0 rx=5 tx=0");
  EXPECT_EQ(logged("/dev/mcc/ctl", "ioctl MCC_TIMESLOT").size(), 3u) << "the recorder asks once";
  run(1);
  EXPECT_EQ(signals_of(*this, kPlayer), Lines{}) << "a player reports nothing at create";
  EXPECT_EQ(signals_of(*this, kRecorder), Lines{"receiver " + std::to_string(recorder)});
  EXPECT_EQ(player, 1024);

  auto const ioctl = [&](int slot) {
    return answer(lgcp_test::command(++seq, slot, [](LGCP::Command& c) { c.select_ioctl().select_deactivateRecord(); }));
  };
  EXPECT_EQ(ioctl(kPlayer), LGCP::ErrorCause::unsupported);
  EXPECT_EQ(ioctl(kRecorder), LGCP::ErrorCause::unsupported);

  ASSERT_TRUE(command(create_trunk(++seq, kTrunk, 0, 1)));
  EXPECT_EQ(answer(connect(++seq, kTrunk, kPlayer)), LGCP::ErrorCause::connectFail) << "a player receives nothing";
  EXPECT_EQ(answer(connect(++seq, kRecorder, kTrunk)), LGCP::ErrorCause::connectFail) << "a recorder sends nothing";
  EXPECT_EQ(answer(connect(++seq, kRecorder, kPlayer)), LGCP::ErrorCause::connectFail);

  ASSERT_TRUE(command(destroy(++seq, kPlayer)));
  ASSERT_TRUE(command(destroy(++seq, kRecorder)));
  EXPECT_EQ(logged("/dev/mcc/ctl", "close").size(), 2u) << "both channels closed with their slots";
  ASSERT_TRUE(command(destroy(++seq, kTrunk)));
}

TEST_F(VoiceSlotTest, EveryFailedCreateClosesItsChannel) {
  auto& board = test::switch_board();
  board.fail(Board::kMccControl, "open", EACCES, Repeat::once);
  EXPECT_EQ(answer(lgcp_test::create_file_player(++seq, kPlayer, {"one.al"}, 1)),
            LGCP::ErrorCause::insufficientResources);
  board.fail(Board::kMccControl, "open", EACCES, Repeat::once);
  EXPECT_EQ(answer(lgcp_test::create_recorder(++seq, kRecorder, "127.0.0.1", 9)),
            LGCP::ErrorCause::insufficientResources);
  board.fail(Board::kMccControl, "ioctl MCC_ALLOCATE", ENOSPC, Repeat::once);
  EXPECT_EQ(answer(lgcp_test::create_network_player(++seq, kPlayer, "127.0.0.1", 9, 1)),
            LGCP::ErrorCause::insufficientResources);
  board.fail(Board::kMccControl, "ioctl MCC_TIMESLOT", EIO, Repeat::once);
  EXPECT_EQ(answer(lgcp_test::create_recorder(++seq, kRecorder, "127.0.0.1", 9)),
            LGCP::ErrorCause::insufficientResources);
  EXPECT_EQ(streams.err(),
            "voice/mcc[0]: fail to open /dev/mcc/ctl device for writing: Permission denied\n"
            "voice/mcc[0]: fail to open /dev/mcc/ctl device for reading: Permission denied\n"
            "voice/mcc[0]: MCC_ALLOCATE fail: No space left on device\n"
            "voice/mcc[0]: MCC_TIMESLOT request failed.\n");
  EXPECT_EQ(logged("/dev/mcc/ctl", "close").size(), 2u) << "the two channels that opened";
  EXPECT_TRUE(test::mcc_model().channels().empty());
}

// An address the connector cannot parse fails inside its start, from inside the stream
// opening: the player is released before the opening reports its output open.
TEST_F(VoiceSlotTest, AHostThatIsNoIPv4AddressIsNeverConnectedTo) {
  ASSERT_TRUE(command(lgcp_test::create_network_player(++seq, kPlayer, "voicehost", 5000, 7)));
  ASSERT_TRUE(command(create_trunk(++seq, kTrunk, 0, 1)));
  EXPECT_TRUE(command(connect(++seq, kPlayer, kTrunk)));
  EXPECT_EQ(signals_of(*this, kPlayer), (Lines{"abort 0", "transmitter 1024"}));
  EXPECT_EQ(streams.log().find("player[1024]: connection to voicehost:5000 fail.\n") != std::string::npos, true)
      << streams.log();

  // Released: a later opening reports the output open again and connects nowhere.
  EXPECT_TRUE(command(disconnect(++seq, kTrunk)));
  streams.clear();
  EXPECT_TRUE(command(connect(++seq, kPlayer, kTrunk)));
  run(6000);
  EXPECT_EQ(signals_of(*this, kPlayer), Lines{}) << "its output is still open";
  EXPECT_EQ(streams.log().find("connection to"), std::string::npos);

  // A NUL byte in the address is no address either.
  ASSERT_TRUE(command(lgcp_test::create_recorder(++seq, kRecorder, std::string("127.0.0.1\0.5", 12), 5000)));
  ASSERT_TRUE(command(connect(++seq, kTrunk, kRecorder)));
  EXPECT_EQ(signals_of(*this, kRecorder), (Lines{"receiver 1025", "stopRecording 0"}));
  for (int slot : {kPlayer, kRecorder, kTrunk}) ASSERT_TRUE(command(destroy(++seq, slot)));
}

// On the real clock, with TCP hosts on loopback.
class VoiceStreams : public ::testing::Test {
protected:
  VoiceStreams() { h.streams.clear(); }

  // What the host receives while the loop runs, up to `count` bytes.
  static std::string receive(Fd& stream, std::size_t count) {
    std::string got;
    test::run_real_until([&] {
      got += test::read_bytes(stream, count - got.size(), 0);
      return got.size() >= count;
    });
    return got;
  }
  bool logged_twice(std::string const& text) {
    std::string const log = h.streams.log();
    auto const first = log.find(text);
    return first != std::string::npos && log.find(text, first + 1) != std::string::npos;
  }

  test::ChannelHarness h;
};

// The copier sees a host's close only as a failed write; the recorder tells it from a
// reset by the end of stream waiting on its own copy of the socket.
TEST_F(VoiceStreams, ARecorderTellsAHostsCloseFromAReset) {
  test::TcpHost host;
  ASSERT_GT(host.port(), 0);
  ASSERT_TRUE(h.command(lgcp_test::create_recorder(++h.seq, kRecorder, "127.0.0.1", host.port())));
  int const port = h.last_port();
  ASSERT_TRUE(h.command(create_trunk(++h.seq, kTrunk, 0, 1)));
  ASSERT_TRUE(h.command(connect(++h.seq, kTrunk, kRecorder)));
  Fd stream = host.accept();
  ASSERT_TRUE(stream);
  ASSERT_TRUE(test::run_real_until([&] { return h.streams.log().find("connected to") != std::string::npos; }));
  std::string const voice = pattern(1024, 5);
  h.inject(port, voice);
  EXPECT_EQ(receive(stream, voice.size()), voice);

  stream.close();
  h.inject(port, voice);  // written into the closed connection: the reset answers it
  ASSERT_TRUE(h.wait_for(stop_on(kRecorder), 5000));
  EXPECT_EQ(signals_of(h, kRecorder), (Lines{"receiver " + std::to_string(port), "stopRecording 2"})) << "userRequest";
  EXPECT_NE(h.streams.log().find("recorder[" + std::to_string(port) + "]: connection to " + host.address() + " closed.\n"), std::string::npos);
  EXPECT_EQ(h.streams.err(), "");

  // Again, and the host resets the connection with nothing sent.
  ASSERT_TRUE(h.command(disconnect(++h.seq, kRecorder)));
  ASSERT_TRUE(h.command(connect(++h.seq, kTrunk, kRecorder)));
  stream = host.accept();
  ASSERT_TRUE(stream);
  ASSERT_TRUE(test::run_real_until([&] { return logged_twice("connected to"); }));
  test::reset(stream);
  ASSERT_TRUE(h.wait_for(stop_on(kRecorder), 5000));
  EXPECT_EQ(signals_of(h, kRecorder), (Lines{"stopRecording 1"})) << "connectionAborted";
  EXPECT_EQ(h.streams.err(), "recorder[" + std::to_string(port) + "]: record aborted\n");
  for (int slot : {kRecorder, kTrunk}) ASSERT_TRUE(h.command(destroy(++h.seq, slot)));
}

void write_file(std::string const& path, std::string const& bytes) { std::ofstream(path) << bytes; }

// Names that leave the voice folder, that the C library would cut short, or that name
// no phrase (a folder, an empty file) are skipped like missing ones.
TEST(VoicePhrases, OnlyNonEmptyRegularFilesInTheVoiceFolderArePlayed) {
  std::string const failed = test::in_private_mounts({"/usr/local"}, [] {
    ::mkdir("/usr/local/voice", 0755);
    ::mkdir("/usr/local/voice/sub", 0755);
    std::string const one = pattern(2000, 1);
    write_file("/usr/local/voice/one.al", one);
    write_file("/usr/local/voice/..one.al", "x");
    write_file("/usr/local/voice/sub/two.al", "yy");
    write_file("/usr/local/voice/empty.al", "");
    write_file("/usr/local/secret", "not a phrase");
    for (std::string const name : {"one.al", "..one.al", "sub/two.al", "sub//two.al"})
      EXPECT_TRUE(PlaySlotFile::OpenPhrase(name)) << name;
    std::vector<std::string> const refused = {"../secret", "sub/../../secret", "sub/../one.al", "..", "sub/..", "",
                                              "sub", "/", "empty.al", "missing.al", std::string("one.al\0x", 8)};
    for (std::string const& name : refused) EXPECT_FALSE(PlaySlotFile::OpenPhrase(name)) << test::printable(name);

    test::ChannelHarness h;
    std::vector<std::string> names = refused;
    names.push_back("one.al");
    EXPECT_TRUE(h.command(lgcp_test::create_file_player(++h.seq, kPlayer, names, 2)));
    int const port = h.last_port();
    EXPECT_TRUE(h.command(create_trunk(++h.seq, kTrunk, 0, 1)));
    EXPECT_TRUE(h.command(connect(++h.seq, kPlayer, kTrunk)));
    EXPECT_TRUE(h.wait_for(abort_on(kPlayer), 5000));
    h.run(100);
    EXPECT_EQ(signals_of(h, kPlayer), (Lines{"transmitter 1024", "transmitter inactive", "abort 0"}));
    EXPECT_EQ(kept_bytes(port, 5000), one + one) << "one.al twice, nothing else";

    // Nothing to play: the opening fails and one abort follows on the next pass.
    EXPECT_TRUE(h.command(lgcp_test::create_file_player(++h.seq, kRecorder, refused, 0)));
    EXPECT_EQ(h.answer(connect(++h.seq, kRecorder, kTrunk)), LGCP::ErrorCause::connectFail);
    h.run(100);
    EXPECT_EQ(signals_of(h, kRecorder), (Lines{"abort 0"}));
    EXPECT_EQ(h.streams.err().find("voice/mcc"), std::string::npos) << "skipped without a line";
    for (int slot : {kPlayer, kRecorder, kTrunk}) EXPECT_TRUE(h.command(destroy(++h.seq, slot)));
    return ::testing::Test::HasFailure() ? "a check in the voice folder's process failed (see above)" : "";
  });
  EXPECT_EQ(failed, "");
}

}  // namespace
