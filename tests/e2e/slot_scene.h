#pragma once
// What the end-to-end scenes of slot families share: the daemon with its controller and
// its stand-in, a trunk slot feeding the slots under test, and checks on what each end
// saw.

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/controller.h"
#include "tests/e2e/scene.h"
#include "tests/support/boardsim_client.h"
#include "tests/support/own_process.h"

namespace e2e {

using SlotScene = std::function<void(Daemon&, Controller&, test::BoardSimClient&, test::Failures&)>;

// Runs `body` in a scene: the daemon, its controller and its stand-in, with trunk {1,5}
// (channel 37) on slot 3. Afterwards every frame the daemon sent must have decoded and
// SIGTERM must end it cleanly. "" when all held, else what failed.
std::string with_daemon(SlotScene const& body);

// Sends the command and checks that it is answered with success (cause < 0) or that error.
void answered(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what, int cause = -1);

// The next transmitter or receiver signal of `slot`, as "transmitter 8322", "receiver
// inactive", or "none".
std::string next_stream(Controller& c, int slot);

std::size_t occurrences(std::string const& text, std::string const& part);

// Whether `wanted` shows in `lines` in this order, other lines between them allowed.
bool in_order(std::vector<std::string> const& lines, std::vector<std::string> const& wanted);

// The stand-in's "state hal <port>" line.
std::string hal_state(test::BoardSimClient& board, int port);

}  // namespace e2e
