// The heartbeat watch on a real TCP controller link, in simulated time.

#include "server/heartbeat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <optional>

#include "asn1/coder_env.h"
#include "protocol/acceptor_net.h"
#include "server/control_server.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/controller_end.h"

namespace {

using lgcp_test::is_success;
using test_server::command;

// When the links came up and went down, in loop time.
struct LinkTimes : CtrlSrv::Service {
  std::vector<unsigned> up, down;
  void OnConnect() override { up.push_back(Mux::milliseconds()); }
  void OnDisconnect() override { down.push_back(Mux::milliseconds()); }
  bool OnCommand(LGCP::Command const&) override { return false; }
};

std::string body(LGCP::Message const& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::string out;
  EXPECT_TRUE(ASN1::encode(message, &env, std::back_inserter(out)));
  return out;
}

void ping(LGCP::Command& c) { c.select_ping(); }
void query(LGCP::Command& c) { c.select_query(); }

class HeartbeatTest : public ::testing::Test {
protected:
  HeartbeatTest() {
    // The 120-second watch runs across the wrap of the 32-bit millisecond clock.
    clock.set_ms((std::uint64_t{1} << 32) - 100000);
    server.Bind(&heartbeat);
    server.Bind(&links);
    server.Activate(new Control::AcceptorNetCheckConnection(port));
  }
  ~HeartbeatTest() override { server.Deactivate(); }

  // Connects a controller and runs the loop until its link is up.
  std::unique_ptr<test::Client> connect() {
    auto client = std::make_unique<test::Client>(port);
    std::size_t const ups = links.up.size();
    EXPECT_TRUE(test::run_until([&] { return links.up.size() > ups; }, 1000));
    return client;
  }
  // Sends a command and runs the loop until the watch has seen it; returns when.
  unsigned send(test::Client& client, std::function<void(LGCP::Command&)> const& fill) {
    client.send(body(command(1, -1, fill)));
    EXPECT_TRUE(client.delivered());
    unsigned const before = Mux::milliseconds();
    EXPECT_TRUE(test::run_until([&] { return heartbeat.is_armed(); }, 1000));
    EXPECT_EQ(Mux::milliseconds(), before) << "a command is taken in the pass it arrives";
    EXPECT_EQ(client.receive(1).size(), 1u) << "one answer";
    return before;
  }
  std::optional<unsigned> dropped_within(unsigned ms) {
    std::size_t const downs = links.down.size();
    if (!test::run_until([&] { return links.down.size() > downs; }, ms)) return std::nullopt;
    return links.down.back();
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test::ReservedPort reserved;
  int port = reserved.port();
  HeartBeatCtl heartbeat;
  LinkTimes links;
  CtrlSrv::Server server;
};

TEST_F(HeartbeatTest, AControllerThatSendsNothingIsNeverTimedOut) {
  auto client = connect();
  EXPECT_EQ(dropped_within(5 * HeartBeatCtl::kTimeoutMs), std::nullopt);
  EXPECT_FALSE(heartbeat.is_armed());
  EXPECT_EQ(streams.log().find("heartbeat timeout!!!"), std::string::npos);
}

TEST_F(HeartbeatTest, ACommandArmsExactlyTwoMinutes) {
  auto client = connect();
  unsigned const sent = send(*client, query);  // taken by no service: still a command
  EXPECT_EQ(dropped_within(HeartBeatCtl::kTimeoutMs - 1), std::nullopt);
  auto const dropped = dropped_within(10);
  ASSERT_TRUE(dropped);
  EXPECT_EQ(*dropped - sent, HeartBeatCtl::kTimeoutMs);
  std::string const log = streams.log();
  std::size_t const line = log.find("heartbeat: heartbeat timeout!!!\n");
  EXPECT_NE(line, std::string::npos) << log;
  EXPECT_EQ(log.find("heartbeat timeout", line + 16), std::string::npos) << "once";
  EXPECT_TRUE(client->sees_close());
  EXPECT_FALSE(heartbeat.is_armed());
}

TEST_F(HeartbeatTest, EveryCommandAndPingRestartsTheWatch) {
  auto client = connect();
  send(*client, query);
  EXPECT_EQ(dropped_within(100000), std::nullopt);
  client->send(body(command(2, -1, ping)));
  ASSERT_TRUE(client->delivered());
  unsigned const pinged = Mux::milliseconds();
  ASSERT_FALSE(test::run_until([] { return false; }, 1)) << "one pass takes the ping";
  std::vector<std::string> const answers = client->receive(1);
  ASSERT_EQ(answers.size(), 1u);
  LGCP::Message answer;
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  ASSERT_TRUE(ASN1::decode(answers[0].data(), answers[0].data() + answers[0].size(), &env, answer, true));
  EXPECT_TRUE(is_success(answer)) << "the watch answers ping itself";
  EXPECT_EQ(dropped_within(pinged + HeartBeatCtl::kTimeoutMs - 1 - Mux::milliseconds()), std::nullopt);
  auto const dropped = dropped_within(10);
  ASSERT_TRUE(dropped);
  EXPECT_EQ(*dropped - pinged, HeartBeatCtl::kTimeoutMs);
}

TEST_F(HeartbeatTest, AfterAReconnectTheWatchIsIdleUntilTheFirstCommand) {
  auto first = connect();
  send(*first, query);
  ASSERT_TRUE(dropped_within(HeartBeatCtl::kTimeoutMs));
  auto second = connect();
  EXPECT_FALSE(heartbeat.is_armed());
  EXPECT_EQ(dropped_within(3 * HeartBeatCtl::kTimeoutMs), std::nullopt);
  unsigned const sent = send(*second, query);
  auto const dropped = dropped_within(HeartBeatCtl::kTimeoutMs + 10);
  ASSERT_TRUE(dropped);
  EXPECT_EQ(*dropped - sent, HeartBeatCtl::kTimeoutMs);
}

}  // namespace
