#pragma once
// What the end-to-end scenes of slot families share: the daemon with its controller and
// its stand-in, a trunk slot feeding the slots under test, and checks on what each end
// saw.

#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/checks.h"
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

std::size_t occurrences(std::string const& text, std::string const& part);

// The stand-in's "state hal <port>" line.
std::string hal_state(test::BoardSimClient& board, int port);

}  // namespace e2e
