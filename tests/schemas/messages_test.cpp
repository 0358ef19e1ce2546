// The generated message classes: wire vectors, every alternative through the coder,
// values that decode but do not encode, and the checked accessors.

#include <gtest/gtest.h>

#include <sstream>
#include <typeinfo>

#include "schemas/acp.h"
#include "schemas/lgcp.h"
#include "schemas/mon.h"
#include "schemas/term.h"
#include "tests/asn1/coding.h"
#include "tests/schemas/filler.h"

namespace {

using test_coding::from_per;
using test_coding::per;
using test_schemas::fill;

TEST(LgcpVectors, ResponsesAndCommands) {
  LGCP::Message success;
  success.set_seq(5);
  success.set_slot(3u);
  success.set_pdu().select_response().select_success();
  EXPECT_EQ(per(success), "C0 01 05 00 03 40");

  LGCP::Message connect;
  connect.set_seq(7);
  connect.set_slot(2u);
  connect.set_pdu().select_command().select_connect(5u);
  EXPECT_EQ(per(connect), "C0 01 07 00 02 04 00 05");

  LGCP::Message bare;
  bare.set_pdu().select_command().select_ping();
  EXPECT_EQ(per(bare).substr(0, 1), "0") << "no seq and no slot: two optional bits 0 0";

  LGCP::Message error;
  error.set_pdu().select_response().select_error(LGCP::ErrorCause::invalidSlot);
  EXPECT_EQ(per(error), "18 80") << "pdu 01, response 1, then the extension bit 0 and 2 over 0..12";

  LGCP::Message back;
  ASSERT_TRUE(from_per("C0 01 07 00 02 04 00 05", back));
  EXPECT_EQ(back, connect);
  ASSERT_TRUE(back.get_pdu().command_isSelected());
  EXPECT_EQ(back.get_pdu().get_command().get_connect().getValue(), 5u);
  EXPECT_EQ(back.get_seq().getValue(), 7);
}

TEST(MonVectors, Ping) {
  MON::Message ping;
  ping.set_pdu().select_command().select_ping();
  EXPECT_EQ(per(ping), "18");
}

// Every alternative of the CHOICEs that carry commands, signals and parameters goes out
// and comes back as an equal value, and prints.
template <class Choice>
void every_alternative(LGCP::Message& (*wrap)(LGCP::Message&, Choice&), char const* what) {
  Choice probe;
  for (unsigned i = 0; i < probe.choice_info().known_count; ++i) {
    for (bool optional_fields : {false, true}) {
      LGCP::Message message;
      message.set_seq(1);
      Choice choice;
      ASSERT_TRUE(choice.select(static_cast<int>(i)));
      fill(*choice.getSelection(), optional_fields);
      wrap(message, choice);
      std::string const bytes = per(message);
      ASSERT_NE(bytes, "fail") << what << " alternative " << i;
      LGCP::Message back;
      ASSERT_TRUE(from_per(bytes, back)) << what << " alternative " << i;
      EXPECT_EQ(back, message) << what << " alternative " << i;
      EXPECT_EQ(per(back), bytes);
      std::ostringstream printed;
      printed << back;
      EXPECT_TRUE(printed.good()) << what << " alternative " << i;
    }
  }
}

TEST(LgcpAlternatives, EveryCommandSignalCreateAndIoctl) {
  every_alternative<LGCP::Command>(
      [](LGCP::Message& m, LGCP::Command& c) -> LGCP::Message& {
        m.set_pdu().select_command(c);
        return m;
      },
      "command");
  every_alternative<LGCP::Signal>(
      [](LGCP::Message& m, LGCP::Signal& s) -> LGCP::Message& {
        m.set_pdu().select_signal(s);
        return m;
      },
      "signal");
  every_alternative<LGCP::CreateParams>(
      [](LGCP::Message& m, LGCP::CreateParams& p) -> LGCP::Message& {
        m.set_pdu().select_command().select_create(p);
        return m;
      },
      "create");
  every_alternative<LGCP::IoctlParams>(
      [](LGCP::Message& m, LGCP::IoctlParams& p) -> LGCP::Message& {
        m.set_pdu().select_command().select_ioctl(p);
        return m;
      },
      "ioctl");
}

TEST(LgcpAlternatives, ExtensionAdditionOfTonecCode) {
  LGCP::TonecCode code;
  code.select_dtmfDone();
  EXPECT_EQ(per(code), "80 01 00") << "an extension alternative as an open type of no bits";
  LGCP::TonecCode back;
  ASSERT_TRUE(from_per("80 01 00", back));
  EXPECT_TRUE(back.dtmfDone_isSelected());
}

// Values a peer may send that decode as numbers without a name and do not encode again.
TEST(DecodeOnly, NumbersBeyondTheNames) {
  auto decode_enumerated = [](auto& value, unsigned number) {
    std::vector<char> out;
    ASN1::PEREncoder encoder(out);
    unsigned const maximum = static_cast<unsigned>(value.getMaximum());
    if (value.extendable()) encoder.encodeSingleBit(false);
    EXPECT_TRUE(encoder.encodeUnsigned(number, 0, maximum));
    ASN1::PERDecoder decoder(out.data(), out.data() + out.size());
    return value.accept(decoder);
  };
  for (unsigned n = 11; n <= 15; ++n) {
    TERM::MdmCarrier carrier;
    std::vector<char> out;
    ASN1::PEREncoder encoder(out);
    encoder.encodeMultiBit(n, 4);
    ASN1::PERDecoder decoder(out.data(), out.data() + out.size());
    ASSERT_TRUE(carrier.accept(decoder)) << n;
    EXPECT_EQ(carrier.asInt(), static_cast<int>(n));
    EXPECT_TRUE(carrier.getName().empty());
    EXPECT_EQ(per(carrier), "fail");
  }
  ACP::TrunkState state;
  ASSERT_TRUE(from_per("E0", state));
  EXPECT_EQ(state.asInt(), 7);
  EXPECT_TRUE(state.getName().empty());
  EXPECT_EQ(per(state), "fail");
  for (unsigned n : {14u, 60u, 122u}) {
    TERM::Payload payload;
    ASSERT_TRUE(decode_enumerated(payload, n));
    EXPECT_TRUE(payload.getName().empty()) << n;
  }
  TERM::Payload r2s;
  ASSERT_TRUE(decode_enumerated(r2s, 123));
  EXPECT_EQ(r2s.getName(), "ptR2S");
  for (unsigned n : {2016u, 2050u, 2098u}) {
    TERM::ED137CauseCode cause;
    ASSERT_TRUE(decode_enumerated(cause, n));
    EXPECT_TRUE(cause.getName().empty()) << n;
  }

  LGCP::Message slot;
  ASSERT_TRUE(from_per("40 07 FF 18", slot)) << "a slot above 1023 gets through to the server's own check";
  EXPECT_EQ(slot.get_slot().getValue(), 2047u);
  EXPECT_EQ(per(slot), "fail");
}

TEST(Accessors, NamesRecordsAndConstructors) {
  TERM::RtpParams rtp;
  fill(rtp);
  rtp.set_qos_dscp(TERM::IpQoSDSCP::ef);
  rtp.set_ttl(64u);
  EXPECT_TRUE(rtp.qos_dscp_isPresent());
  std::string const text = rtp.asValueNotation();
  EXPECT_NE(text.find("qos-dscp ef"), std::string::npos) << text;
  EXPECT_NE(text.find("ttl 64"), std::string::npos) << text;

  // Set and then omitted: encoded as absent.
  TERM::RtpParams omitted(rtp);
  omitted.set_vad(true);
  omitted.omit_vad();
  EXPECT_EQ(per(omitted), per(rtp));

  // The alternative constructor and select_x encode alike.
  LGCP::Response by_constructor(LGCP::Response::error::id, LGCP::ErrorCause::internal);
  LGCP::Response by_select;
  by_select.select_error(LGCP::ErrorCause::internal);
  EXPECT_EQ(per(by_constructor), per(by_select));

  // An ENUMERATED whose names jump encodes the value itself.
  TERM::Payload payload(TERM::Payload::ptR2S);
  EXPECT_EQ(per(payload), "F6");
  EXPECT_EQ(static_cast<TERM::Payload::NamedNumber>(payload), TERM::Payload::ptR2S);

  // Values decoded or copied have their generated classes (typeid of a plain reference:
  // clang warns when the operand is an expression with effects).
  auto class_of = [](ASN1::AbstractData const& value) -> std::type_info const& { return typeid(value); };
  LGCP::Message m;
  ASSERT_TRUE(from_per("C0 01 07 00 02 04 00 05", m));
  EXPECT_EQ(class_of(m.get_pdu()), typeid(LGCP::PDU));
  EXPECT_EQ(class_of(m.get_pdu().get_command()), typeid(LGCP::Command));
  std::unique_ptr<LGCP::Message> copy(m.clone());
  EXPECT_EQ(class_of(copy->get_pdu()), typeid(LGCP::PDU));
}

TEST(AccessorsDeathTest, AbsentFieldsStopATestBuild) {
  // A build with NDEBUG defaults to logging; the switch is what a test build sets.
  bool const saved = ASN1::detail::abort_on_absent_access;
  ASN1::detail::abort_on_absent_access = true;
  LGCP::Message m;
  EXPECT_DEATH(m.get_seq(), "asn1: access to absent field LGCP::Message.seq");
  LGCP::PDU pdu;
  pdu.select_response();
  EXPECT_DEATH(pdu.get_command(), "asn1: access to absent field LGCP::PDU.command");
  ASN1::detail::abort_on_absent_access = saved;
}

TEST(Accessors, AbsentFieldsInAReleaseBuildAreLoggedAndDefaulted) {
  bool const saved = ASN1::detail::abort_on_absent_access;
  ASN1::detail::abort_on_absent_access = false;
  testing::internal::CaptureStderr();
  LGCP::Message m;
  EXPECT_EQ(m.get_seq().getValue(), 0);
  LGCP::PDU pdu;
  pdu.select_response();
  LGCP::Command const& command = pdu.get_command();
  EXPECT_EQ(command.currentSelection(), -1) << "never the other alternative's object";
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "asn1: access to absent field LGCP::Message.seq\nasn1: access to absent field LGCP::PDU.command\n");
  ASN1::detail::abort_on_absent_access = saved;
}

TEST(Accessors, DefaultsHandedOutForAbsentFieldsOutliveLaterAccesses) {
  bool const saved = ASN1::detail::abort_on_absent_access;
  ASN1::detail::abort_on_absent_access = false;
  testing::internal::CaptureStderr();
  LGCP::MuteParams p;
  ASN1::BOOLEAN const& rx = p.get_rx();
  ASN1::BOOLEAN const& tx = p.get_tx();  // another absent field of the same class
  EXPECT_FALSE(static_cast<bool>(rx));
  EXPECT_FALSE(static_cast<bool>(tx));
  // Writers get objects of their own: neither each other's writes nor the readers' default.
  ASN1::BOOLEAN& written = p.ref_rx();
  ASN1::BOOLEAN& other = p.ref_tx();
  written = true;
  EXPECT_FALSE(static_cast<bool>(other));
  EXPECT_FALSE(static_cast<bool>(p.get_rx()));
  EXPECT_FALSE(static_cast<bool>(rx));
  EXPECT_TRUE(static_cast<bool>(written));
  EXPECT_FALSE(p.rx_isPresent()) << "an absent access adds no field";
  testing::internal::GetCapturedStderr();
  ASN1::detail::abort_on_absent_access = saved;
}

}  // namespace
