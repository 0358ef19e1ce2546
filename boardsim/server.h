#pragma once
// The stand-in's own thread: it plays the hardware beside the daemon's loop and serves
// the control protocol (boardsim/control.h) on a SOCK_STREAM listening socket at the
// abstract unix address "boardsim-<pid>", <pid> the process id when it started. The
// address is those bytes after the leading NUL, with no terminating NUL. Abstract
// addresses belong to a network namespace: a test connects from the daemon's.
//
// The thread also retires the opens the daemon closes (Sim::retire_closed) as they go.
//
// A client sends command lines ending in "\n" (a "\r" before it is dropped) and gets
// each answer whole before the next line is read; lines longer than kMaxLine bytes
// end the connection after an "error line too long". Several clients may be connected.
//
// The thread starts with every signal blocked, so that the daemon's handlers run on its
// loop's thread; the starting thread's mask is left as it was.

#include <cstddef>
#include <memory>
#include <string>
#include <thread>

#include "foundation/fd.h"

namespace BoardSim {

class Sim;

class Server {
public:
  static constexpr std::size_t kMaxLine = 64 * 1024;
  static constexpr std::size_t kMaxClients = 16;
  // After an accept fails for another reason than a client that gave up.
  static constexpr unsigned kAcceptPauseMs = 1000;

  // Null, with a line on std::cerr, when the socket or the thread cannot be made.
  static std::unique_ptr<Server> start(Sim& sim);
  ~Server();  // stop()
  Server(Server const&) = delete;
  Server& operator=(Server const&) = delete;

  // Closes the socket and joins the thread; later calls do nothing. Not from the
  // stand-in's own thread.
  void stop();
  // "boardsim-<pid>"
  std::string const& name() const { return m_name; }
  std::thread::id thread_id() const { return m_thread_id; }

private:
  Server(Sim& sim, Fd listener, Fd wake, std::string name);
  void run();

  Sim& m_sim;
  Fd m_listener;
  Fd m_wake;  // eventfd: written by stop()
  std::string m_name;
  std::thread m_thread;
  std::thread::id m_thread_id;
};

}  // namespace BoardSim
