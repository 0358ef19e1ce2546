// The control server's answer rules: one response per command, whatever the services do.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "server/control_server.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/controller_end.h"

namespace {

using lgcp_test::is_success;
using test_server::command;

// A service whose reaction to each command the test chooses.
struct Scripted : CtrlSrv::Service {
  std::function<bool(LGCP::Command const&)> on_command = [](LGCP::Command const&) { return false; };
  std::vector<int> signals_seen;
  int connects = 0, disconnects = 0;
  void OnConnect() override { ++connects; }
  void OnDisconnect() override { ++disconnects; }
  bool OnCommand(LGCP::Command const& c) override { return on_command(c); }
  void OnSignal(LGCP::Signal const& s) override { signals_seen.push_back(s.currentSelection()); }
};

void ping(LGCP::Command& c) { c.select_ping(); }
void query(LGCP::Command& c) { c.select_query(); }

class ControlServerTest : public ::testing::Test {
protected:
  ControlServerTest() {
    server.Bind(&first);
    server.Bind(&second);
    server.Activate(controller.link());
    test::run_until([&] { return first.connects == 1; }, 100);
    streams.clear();  // the socket pair takes no TCP option
  }
  ~ControlServerTest() override { server.Deactivate(); }

  int error_of(LGCP::Message const& m) {
    EXPECT_TRUE(m.get_pdu().response_isSelected());
    return lgcp_test::error_of(m);
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  test_server::ControllerEnd controller;
  CtrlSrv::Server server;
  Scripted first, second;
};

TEST_F(ControlServerTest, ResponsesEchoSeqAndSlot) {
  second.on_command = [&](LGCP::Command const&) {
    second.Success();
    return true;
  };
  controller.send(command(-1, -1, ping));
  controller.send(command(0, 7, ping));
  auto got = controller.receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_FALSE(got[0].seq_isPresent());
  EXPECT_FALSE(got[0].slot_isPresent());
  EXPECT_EQ(got[1].get_seq().getValue(), 0);
  EXPECT_EQ(got[1].get_slot().getValue(), 7u);
  EXPECT_TRUE(is_success(got[1]));
}

TEST_F(ControlServerTest, FirstServiceThatTakesTheCommandAnswersIt) {
  std::vector<std::string> order;
  first.on_command = [&](LGCP::Command const&) {
    order.push_back("first");
    return false;
  };
  second.on_command = [&](LGCP::Command const&) {
    order.push_back("second");
    second.Error(LGCP::ErrorCause::busError);
    return true;
  };
  controller.send(command(1, -1, query));
  auto got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::busError);
  EXPECT_EQ(order, (std::vector<std::string>{"first", "second"}));
}

TEST_F(ControlServerTest, AtMostOneSuccessAndOneErrorNeverASuccessAfterAnError) {
  second.on_command = [&](LGCP::Command const& c) {
    if (c.ping_isSelected()) {
      second.Success();
      second.Error(LGCP::ErrorCause::internal);
    } else {
      second.Success();
      second.Success();
    }
    return true;
  };
  controller.send(command(1, -1, ping));
  auto got = controller.receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(is_success(got[0]));
  EXPECT_EQ(error_of(got[1]), LGCP::ErrorCause::internal);

  controller.send(command(2, -1, query));
  got = controller.receive(2);
  EXPECT_EQ(got.size(), 1u) << "two successes give one";

  second.on_command = [&](LGCP::Command const&) {
    second.Error(LGCP::ErrorCause::unsupported);
    second.Success();
    second.Error(LGCP::ErrorCause::internal);
    return true;
  };
  controller.send(command(3, -1, query));
  got = controller.receive(2);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::unsupported);
}

TEST_F(ControlServerTest, UnhandledAndUnansweredCommands) {
  controller.send(command(1, -1, ping));
  auto got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::unexpectedMsgType);

  second.on_command = [](LGCP::Command const&) { return true; };
  controller.send(command(2, -1, ping));
  got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::internal);
  EXPECT_NE(streams.err().find("ctrl [127.0.0.1:1]: software error: server do NOT send ack!!!\n"), std::string::npos)
      << streams.err();
}

TEST_F(ControlServerTest, DelayedAnswerCarriesTheTokenAndTheSlot) {
  unsigned token = 0;
  second.on_command = [&](LGCP::Command const&) {
    token = second.delayResponse();
    return true;
  };
  controller.send(command(42, 9, ping));
  EXPECT_TRUE(controller.receive().empty()) << "nothing during dispatch";
  EXPECT_EQ(streams.err().find("software error"), std::string::npos);
  EXPECT_EQ(token, 42u);
  second.delayedSuccess(9, token);
  auto got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].get_seq().getValue(), 42);
  EXPECT_EQ(got[0].get_slot().getValue(), 9u);

  // A command without seq hands out the last seq seen.
  controller.send(command(-1, 9, ping));
  controller.receive();
  EXPECT_EQ(token, 42u);
}

TEST_F(ControlServerTest, SignalsCarryTheCurrentSlotAndAreShownToTheOtherServicesFirst) {
  second.on_command = [&](LGCP::Command const&) {
    second.Success();
    LGCP::Signal s;
    s.select_activated();
    second.SendSignal(s);
    return true;
  };
  controller.send(command(1, 5, ping));
  auto got = controller.receive(2);
  ASSERT_EQ(got.size(), 2u);
  EXPECT_TRUE(got[1].get_pdu().signal_isSelected());
  EXPECT_EQ(got[1].get_slot().getValue(), 5u);
  EXPECT_FALSE(got[1].seq_isPresent());
  EXPECT_EQ(first.signals_seen, (std::vector<int>{5}));
  EXPECT_TRUE(second.signals_seen.empty()) << "not shown to its sender";

  LGCP::Signal between;
  between.select_activated();
  second.SendSignal(between);
  got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_FALSE(got[0].slot_isPresent()) << "between commands a signal carries no slot";
}

TEST_F(ControlServerTest, RefusedMessages) {
  second.on_command = [&](LGCP::Command const&) {
    second.Success();
    return true;
  };
  // slot 1024: optional bits 01, then 04 00, then command ping (00 0 1100).
  controller.send_raw({0x40, 0x04, 0x00, 0x18});
  auto got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::invalidSlot);
  EXPECT_FALSE(got[0].slot_isPresent());
  controller.send_raw({0x40, 0x03, char(0xFF), 0x18});
  got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(is_success(got[0])) << "1023 is dispatched";

  LGCP::Message response;
  response.set_seq(3);
  response.set_pdu().select_response().select_success();
  controller.send(response);
  got = controller.receive();
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(error_of(got[0]), LGCP::ErrorCause::unexpectedMsgType);

  streams.clear();
  controller.send_raw({char(0xFF)});
  EXPECT_TRUE(controller.receive().empty());
  EXPECT_EQ(streams.err(), "ctrl [127.0.0.1:1]: receive fail: decode error!\n msg: FF \n");
}

TEST_F(ControlServerTest, UnboundServiceAndLinkLoss) {
  Scripted loose;
  loose.Success();
  EXPECT_EQ(loose.GetSlot(), -1);
  EXPECT_EQ(streams.err(), "CtrlSrv::Service error! service not connected to server.\n"
                           "CtrlSrv::Service error! service not connected to server.\n");
  bool connected = false;
  EXPECT_FALSE(loose.CheckServerConnection(connected));
  EXPECT_TRUE(first.CheckServerConnection(connected));
  EXPECT_TRUE(connected);
  controller.close();
  test::run_until([&] { return first.disconnects == 1; }, 1000);
  EXPECT_EQ(second.disconnects, 1);
  std::ostringstream header;
  server.PutHeader(header);
  EXPECT_EQ(header.str(), "ctrl [not connected]: ");
}

}  // namespace
