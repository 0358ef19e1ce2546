// One whole controller session with the daemon, its bytes checked by tools that share no
// code with it: tshark de-frames the captured TPKT stream in both directions, and the
// frames must be exactly the bodies both ends sent; Erlang's codec, compiled from the
// same module text, decodes every body but the one meant not to decode, to the values
// the project's decoder sees.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "asn1/coder_env.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/erlang_check.h"
#include "tests/e2e/scene.h"
#include "tests/oracle/tshark_tpkt.h"
#include "tests/schemas/oracle/wire_oracle.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;

bool is_trunk_status_body(std::string const& body) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  LGCP::Message m;
  return ASN1::decode(body.data(), body.data() + body.size(), &env, m, true) && is_trunk_status(m);
}

// The session of the end-to-end tests, in one run: every command kind the daemon serves
// today, a frame that does not decode and a slot number no encoder writes.
void run_session(Controller& c, test::Failures& f, std::string& undecodable) {
  int seq = 0;
  auto expect = [&](LGCP::Message const& m, std::function<bool(LGCP::Message const&)> const& ok, char const* what) {
    c.send(m);
    auto r = c.response(seq);
    f.check(r && ok(*r), what);
  };
  auto success = [](LGCP::Message const& m) { return is_success(m); };
  auto error = [](int cause) { return [cause](LGCP::Message const& m) { return error_of(m) == cause; }; };

  expect(ping(++seq), success, "ping");
  expect(query(++seq), success, "query");
  f.check(c.signal(signal_of(LGCP::Signal::query::id)).has_value(), "the query signal");
  expect(create_trunk(++seq, 3, 1, 5), success, "create trunk on slot 3");
  expect(create_trunk(++seq, 4, 0, 1), success, "create trunk on slot 4");
  expect(connect_to(++seq, 3, 4), success, "connect 3 to 4");
  expect(disconnect(++seq, 4), success, "disconnect 4");
  expect(disconnect(++seq, 3), success, "disconnect 3");
  expect(destroy(++seq, 3), success, "destroy 3");
  expect(destroy(++seq, 4), success, "destroy 4");
  expect(command(++seq, -1, [](LGCP::Command& cmd) { cmd.select_display().select_snmpTrapReceivers(); }), success,
         "display");
  expect(command(++seq, 12, [](LGCP::Command& cmd) { cmd.select_create().select_pstn().select_cas().set_trunk(0); }),
         error(LGCP::ErrorCause::insufficientResources), "pstn create");

  undecodable = std::string("\xFF", 1);
  c.send_body(undecodable);
  f.check(c.quiet(200), "no answer to an undecodable frame");

  // Slot 1024: slot 1023's bytes with the slot changed.
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> bytes;
  LGCP::Message m = ping(++seq);
  m.set_slot(1023);
  ASN1::encode(m, &env, std::back_inserter(bytes));
  std::string body(bytes.begin(), bytes.end());
  body[3] = '\x04';
  body[4] = '\x00';
  c.send_body(body);
  auto r = c.response(seq);
  f.check(r && error_of(*r) == LGCP::ErrorCause::invalidSlot, "slot 1024");
  // Whatever signals are still on their way belong to the session too.
  c.quiet(300);
}

TEST(Session, TsharkAndErlangReadTheWholeSession) {
  EXPECT_EQ(in_scene([]() -> std::string {
              Daemon daemon;
              if (std::string const failed = daemon.start(); !failed.empty()) return failed;
              oracle::TempDir folder;
              oracle::Capture capture(folder.path(), kPort);
              capture.start();
              if (::testing::Test::HasFailure()) return "tshark did not start";
              Controller c;
              if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
              test::Failures f;
              std::string undecodable;
              run_session(c, f, undecodable);
              c.close();
              f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
              capture.stop();

              std::vector<oracle::Row> rows;
              oracle::dissect(folder.path(), capture.file(), kPort, rows);
              oracle::Wire const wire = oracle::read_wire(rows, kPort);
              f.check(wire.complaints.empty(), "tshark's complaints: " + oracle::show(wire.complaints));
              f.check(wire.to_server.bodies == c.bodies_sent(), "controller to daemon: tshark saw\n" +
                                                                    oracle::show(wire.to_server.bodies) + "\nsent\n" +
                                                                    oracle::show(c.bodies_sent()));
              // Trunk status reports come every second: some may leave the daemon after the
              // controller's last read, while it closes.
              auto const& seen = wire.to_client.bodies;
              auto const& received = c.bodies_received();
              bool const prefix = seen.size() >= received.size() && std::equal(received.begin(), received.end(), seen.begin());
              f.check(prefix && std::all_of(seen.begin() + static_cast<long>(std::min(received.size(), seen.size())),
                                            seen.end(), is_trunk_status_body),
                      "daemon to controller: tshark saw\n" + oracle::show(seen) + "\nreceived\n" + oracle::show(received));
              f.equal(std::count_if(received.begin(), received.end(),
                                    [](std::string const& body) { return !is_trunk_status_body(body); }),
                      17, "messages from the daemon besides trunk status");

              std::unique_ptr<oracle::ErlangCodec> const erlang = wire_oracle::start_codec();
              if (!erlang->failure().empty()) return f.result() + erlang->failure();
              return f.result() + erlang_reads_alike(*erlang, wire.to_server.bodies, "to the daemon", undecodable) +
                     erlang_reads_alike(*erlang, wire.to_client.bodies, "from the daemon", undecodable);
            }),
            "");
}

}  // namespace
