// The board's daemon (this build's server-sim, run under the emulator) and the host's,
// side by side in one scene, given the same commands: every answer of the board's must be
// the host's byte for byte, and Erlang's codec must decode every body either one sent or
// received. Neither daemon's connection check may drop its link.

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

#include "asn1/coder_env.h"
#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/schemas/oracle/wire_oracle.h"
#include "tests/support/own_process.h"

namespace {

using namespace e2e;

constexpr int kHostPort = 20002;
// The connection check's line for a link whose TCP state is not ESTABLISHED.
constexpr char kCheckDrop[] = "closed: tcp socket change state.";

bool decode(std::string const& body, LGCP::Message& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(body.data(), body.data() + body.size(), &env, message, true);
}

// The bodies among what the controller received that are responses, or else the trunk
// status reports at its connection (the first four bodies that are not responses).
std::vector<std::string> received(Controller const& c, bool responses) {
  std::vector<std::string> found;
  for (std::string const& body : c.bodies_received()) {
    LGCP::Message m;
    bool const response = decode(body, m) && m.get_pdu().response_isSelected();
    if (response == responses && (responses || found.size() < 4)) found.push_back(body);
  }
  return found;
}

std::size_t count(std::string const& text, std::string const& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

struct Attempt {
  std::unique_ptr<Controller> controller;
  bool dropped = false;  // the daemon closed the link before the last answer
};

// Ping, create a trunk slot, destroy it, on a link of its own.
Attempt commands(int port, test::Failures& f) {
  Attempt run{std::make_unique<Controller>()};
  Controller& c = *run.controller;
  if (std::string const failed = c.connect(port); !failed.empty()) {
    f.check(false, "connect to port " + std::to_string(port) + ": " + failed);
    return run;
  }
  for (LGCP::Message const& m : {ping(1), create_trunk(2, 3, 1, 5), destroy(3, 3)}) {
    try {
      c.send(m);
    } catch (std::exception const&) {
      run.dropped = true;
      return run;
    }
    auto const r = c.response(static_cast<int>(m.get_seq().getValue()), 20000);
    if (!r) {
      run.dropped = c.sees_close(0);
      f.check(run.dropped, "no answer to " + to_text(m) + " on port " + std::to_string(port));
      return run;
    }
  }
  return run;
}

std::string shown(std::vector<std::string> const& bodies) {
  std::string text;
  for (std::string const& body : bodies) text += oracle::hex(std::vector<char>(body.begin(), body.end())) + "\n";
  return text;
}

TEST(BoardDaemon, AnswersAsTheHostsByteForByteUnderTheEmulator) {
  EXPECT_EQ(in_scene([]() -> std::string {
              Daemon board;
              if (std::string const failed = board.start(60000); !failed.empty()) return "the board's daemon: " + failed;
              test::Failures f;
              Attempt const on_board = commands(kPort, f);

              DaemonOptions options;
              options.program = GW_HOST_BIN_DIR "/server-sim";
              options.args = {"--port", std::to_string(kHostPort)};
              options.port = kHostPort;
              options.output_file = "/var/log/host-output";
              Daemon host(options);
              if (std::string const failed = host.start(); !failed.empty()) return f.result() + "the host's daemon: " + failed;
              Attempt const on_host = commands(kHostPort, f);
              f.check(!on_host.dropped, "the host's daemon keeps its link");
              f.check(!on_board.dropped, "the board's daemon keeps its link");

              for (bool const responses : {true, false}) {
                std::vector<std::string> const expected = received(*on_host.controller, responses);
                std::vector<std::string> const got = received(*on_board.controller, responses);
                char const* const what = responses ? "answers" : "trunk status reports at connection";
                f.equal(expected.size(), responses ? 3u : 4u, std::string("the host's ") + what);
                f.check(got == expected, std::string("the board's ") + what + " are the host's:\nboard\n" + shown(got) +
                                             "host\n" + shown(expected));
              }
              for (std::string const& body : received(*on_host.controller, true)) {
                LGCP::Message m;
                f.check(decode(body, m) && is_success(m), "the host's daemon answers with success: " + shown({body}));
              }
              f.equal(count(host.output(), kCheckDrop), 0u, "links the host's daemon dropped");
              f.equal(count(board.output(), kCheckDrop), 0u, "links the board's daemon dropped");

              std::unique_ptr<oracle::ErlangCodec> const erlang = wire_oracle::start_codec();
              if (!erlang->failure().empty()) return f.result() + erlang->failure();
              for (Controller const* c : {on_host.controller.get(), on_board.controller.get()}) {
                std::vector<std::string> bodies = c->bodies_sent();
                bodies.insert(bodies.end(), c->bodies_received().begin(), c->bodies_received().end());
                for (std::string const& body : bodies) {
                  std::string const hex = oracle::hex(std::vector<char>(body.begin(), body.end()));
                  LGCP::Message ours;
                  if (!decode(body, ours)) {
                    f.check(false, hex + " decodes here");
                    continue;
                  }
                  f.equal(erlang->ask("decode LGCP-Message " + hex + " " + wire_oracle::term(ours)), "ok same",
                          hex + " as Erlang decodes it");
                }
              }
              on_board.controller->close();
              f.equal(board.stop(SIGTERM, 60000), "", "SIGTERM ends the board's daemon cleanly");
              f.equal(host.stop(SIGTERM), "", "SIGTERM ends the host's daemon cleanly");
              return f.result();
            }, 300),
            "");
}

}  // namespace
