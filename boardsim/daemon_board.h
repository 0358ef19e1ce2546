#pragma once
// server-sim's board. Linking this file (server-sim's main calls start_for_daemon) puts
// a stand-in with the watchdog, the time-slot switch and every other device it models
// behind Board::io() while static objects are initialised, so every device the daemon opens
// from the first line of main on is the stand-in's. That stand-in lives to the end of
// the process: Board::io() stays valid through exit and the destruction of static
// objects.
//
// Its thread and control socket are started apart from it, by start_for_daemon, once
// the daemon has the process id it keeps: after start-up has forked into the background
// (server-sim -D) and before the loop runs. Paths that return earlier (--version,
// --help, a bad option) start no thread.

#include <memory>

namespace BoardSim {

class Server;
class Sim;

// The daemon's stand-in.
Sim& daemon_sim();

// Starts the stand-in's thread and its control socket "boardsim-<getpid()>" (see
// boardsim/server.h). Null, with a line on std::cerr, when they cannot be made. The
// handle's stop() or destruction stops and joins the thread: do it before the process
// exits, on the thread that started it; a second handle needs the first one stopped.
std::unique_ptr<Server> start_for_daemon();

}  // namespace BoardSim
