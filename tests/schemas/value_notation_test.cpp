// Real messages through value notation and BER: every command, signal, create and ioctl
// alternative, filled and printed, reads back to an equal message, and so does its BER
// encoding.

#include <gtest/gtest.h>

#include <memory>

#include "schemas/lgcp.h"
#include "schemas/term.h"
#include "tests/asn1/coding.h"
#include "tests/schemas/filler.h"

namespace {

using test_coding::ber;
using test_coding::from_ber;
using test_schemas::fill;

void reads_back(LGCP::Message const& message, std::string const& what) {
  std::string const text = message.asValueNotation();
  LGCP::Message read;
  ASSERT_TRUE(read.setFromValueNotation(text)) << what << "\n" << text;
  EXPECT_EQ(read, message) << what << "\n" << text << "\nread back as\n" << read.asValueNotation();

  std::string const octets = ber(message);
  ASSERT_NE(octets, "fail") << what;
  LGCP::Message decoded;
  ASSERT_TRUE(from_ber(octets, decoded)) << what << "\n" << octets;
  EXPECT_EQ(decoded, message) << what << "\n" << text << "\ndecoded as\n" << decoded.asValueNotation();
  EXPECT_EQ(ber(decoded), octets) << what;
}

template <class Choice>
void every_alternative(void (*wrap)(LGCP::Message&, Choice&), char const* what) {
  Choice probe;
  for (unsigned i = 0; i < probe.choice_info().known_count; ++i) {
    for (bool optional_fields : {false, true}) {
      LGCP::Message message;
      message.set_seq(4000000000u);
      message.set_slot(1023u);
      Choice choice;
      ASSERT_TRUE(choice.select(static_cast<int>(i)));
      fill(*choice.getSelection(), optional_fields);
      wrap(message, choice);
      reads_back(message, std::string(what) + " " + choice.getSelectionName());
    }
  }
}

TEST(LgcpValueNotationAndBer, EveryCommandSignalCreateAndIoctl) {
  every_alternative<LGCP::Command>([](LGCP::Message& m, LGCP::Command& c) { m.set_pdu().select_command(c); },
                                   "command");
  every_alternative<LGCP::Signal>([](LGCP::Message& m, LGCP::Signal& s) { m.set_pdu().select_signal(s); }, "signal");
  every_alternative<LGCP::CreateParams>(
      [](LGCP::Message& m, LGCP::CreateParams& p) { m.set_pdu().select_command().select_create(p); }, "create");
  every_alternative<LGCP::IoctlParams>(
      [](LGCP::Message& m, LGCP::IoctlParams& p) { m.set_pdu().select_command().select_ioctl(p); }, "ioctl");
}

TEST(LgcpValueNotationAndBer, ResponsesWithNamesAndNumbers) {
  LGCP::Message error;
  error.set_seq(-7);
  error.set_pdu().select_response().select_error(LGCP::ErrorCause::destroyInProgress);
  reads_back(error, "error");
  EXPECT_NE(error.asValueNotation().find("error : destroyInProgress"), std::string::npos) << error.asValueNotation();
}

// not-use is -1: printed as its name, read back as -1, and -1 again through BER.
TEST(TermEnumerations, NegativeValuesReadBack) {
  TERM::LemzRadioStatus status;
  fill(status, true);
  status.set_standby_state_channel(TERM::RadioStandby::not_use);
  status.set_standby_state_receiver(TERM::RadioStandby::standby);
  std::string const text = status.asValueNotation();
  EXPECT_NE(text.find("standby-state-channel not-use,"), std::string::npos) << text;
  TERM::LemzRadioStatus read;
  ASSERT_TRUE(read.setFromValueNotation(text)) << text;
  EXPECT_TRUE(read.get_standby_state_channel().is_not_use());
  EXPECT_EQ(read, status);

  TERM::LemzRadioStatus decoded;
  ASSERT_TRUE(from_ber(ber(status), decoded)) << ber(status);
  EXPECT_TRUE(decoded.get_standby_state_channel().is_not_use());
  EXPECT_EQ(decoded, status);
  EXPECT_TRUE(status.isStrictlyValid()) << "a negative value passes the strict test";
}

}  // namespace
