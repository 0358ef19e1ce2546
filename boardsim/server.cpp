#include "boardsim/server.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstddef>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "boardsim/control.h"
#include "boardsim/diag.h"
#include "boardsim/sim.h"

namespace BoardSim {

namespace {

struct Client {
  Fd fd;
  std::string in;
  std::string out;
  bool hung_up = false;  // sends nothing more: answer what it sent, then close
  bool done = false;     // gone, or sent a line too long: close once `out` is sent

  bool finished() const { return out.empty() && (done || (hung_up && in.find('\n') == std::string::npos)); }
};

using Clock = std::chrono::steady_clock;
// Where the clients start in the poll set: after the wake-up, the listener and the hang-ups.
constexpr std::size_t kFirstClient = 3;

bool would_block(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

// Pieces streamed into one line of the stand-in's own (boardsim/diag.h).
template <class... Pieces>
void report(Pieces const&... pieces) {
  std::ostringstream line;
  (line << ... << pieces);
  diag(line.str());
}

// Restores the calling thread's signal mask when it leaves the scope.
class BlockAllSignals {
public:
  BlockAllSignals() {
    sigset_t all;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &m_previous);
  }
  ~BlockAllSignals() { ::pthread_sigmask(SIG_SETMASK, &m_previous, nullptr); }
  BlockAllSignals(BlockAllSignals const&) = delete;
  BlockAllSignals& operator=(BlockAllSignals const&) = delete;

private:
  sigset_t m_previous;
};

// Answers one complete line at a time while nothing is waiting to be sent, so a client
// that does not read its answers stops being read rather than growing `out`.
void answer_lines(Sim& sim, Client& client) {
  while (client.out.empty() && !client.done) {
    std::size_t const end = client.in.find('\n');
    if (std::min(end, client.in.size()) > Server::kMaxLine) {
      client.out = "error line too long\n";
      client.done = true;
      return;
    }
    if (end == std::string::npos) return;
    std::string_view line(client.in.data(), end);
    if (line.ends_with('\r')) line.remove_suffix(1);
    for (std::string const& answer : control_command(sim, line)) {
      client.out += answer;
      client.out += '\n';
    }
    client.in.erase(0, end + 1);
  }
}

}  // namespace

std::unique_ptr<Server> Server::start(Sim& sim) {
  std::string name = "boardsim-" + std::to_string(::getpid());
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, name.data(), name.size());
  auto const length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());

  Fd listener(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
  if (!listener || ::bind(listener.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listener.lowlevel_fd(), 16) != 0) {
    Errno const error;
    report("boardsim: control socket ", name, ": ", error);
    return nullptr;
  }
  Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
  if (!wake) {
    Errno const error;
    report("boardsim: control socket ", name, ": eventfd: ", error);
    return nullptr;
  }
  std::unique_ptr<Server> server(new Server(sim, std::move(listener), std::move(wake), std::move(name)));
  try {
    BlockAllSignals const blocked;
    server->m_thread = std::thread(&Server::run, server.get());
  } catch (std::system_error const& e) {
    report("boardsim: control socket ", server->m_name, ": no thread: ", e.what());
    return nullptr;
  }
  server->m_thread_id = server->m_thread.get_id();
  return server;
}

Server::Server(Sim& sim, Fd listener, Fd wake, std::string name)
    : m_sim(sim), m_listener(std::move(listener)), m_wake(std::move(wake)), m_name(std::move(name)) {}

Server::~Server() { stop(); }

void Server::stop() {
  if (!m_thread.joinable()) return;
  std::uint64_t const one = 1;
  if (::write(m_wake.lowlevel_fd(), &one, sizeof one) != sizeof one) {
    Errno const error;
    report("boardsim: control socket ", m_name, ": cannot wake its thread: ", error);
  }
  m_thread.join();
  m_listener.close();
}

void Server::run() {
  Sim::mark_own_thread();
  std::vector<Client> clients;
  std::vector<pollfd> polled;
  char buf[4096];
  // A failed accept leaves the waiting client in the backlog and the listener readable:
  // polled at once again, the thread would spin. It rests for kAcceptPauseMs instead.
  // (A flag beside the time, not std::optional: g++ 12 warns a release build of the
  // board's target that the optional's time may be used uninitialized.)
  bool accept_paused = false;
  Clock::time_point accept_resumes{};
  for (;;) {
    int timeout = -1;
    if (accept_paused) {
      auto const left = std::chrono::ceil<std::chrono::milliseconds>(accept_resumes - Clock::now()).count();
      if (left > 0) {
        timeout = static_cast<int>(left);
      } else {
        accept_paused = false;
      }
    }
    bool const accepting = clients.size() < kMaxClients && !accept_paused;
    polled.clear();
    polled.push_back({m_wake.lowlevel_fd(), POLLIN, 0});
    polled.push_back({m_listener.lowlevel_fd(), static_cast<short>(accepting ? POLLIN : 0), 0});
    polled.push_back({m_sim.hangups(), POLLIN, 0});
    for (Client const& client : clients) {
      bool const reading = client.out.empty() && !client.done && !client.hung_up;
      polled.push_back({client.fd.lowlevel_fd(), static_cast<short>(reading ? POLLIN : POLLOUT), 0});
    }
    if (::poll(polled.data(), polled.size(), timeout) < 0) {
      if (errno == EINTR) continue;
      Errno const error;
      report("boardsim: control socket ", m_name, ": poll: ", error);
      return;
    }
    if (polled[0].revents) return;
    // The daemon closed an open whole: its "close" goes in the log now, not at the next call.
    if (polled[2].revents) m_sim.retire_closed();

    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = clients[i];
      short const revents = polled[i + kFirstClient].revents;
      if (revents & POLLIN) {
        ssize_t const got = ::recv(client.fd.lowlevel_fd(), buf, sizeof buf, 0);
        if (got > 0) {
          client.in.append(buf, static_cast<std::size_t>(got));
        } else if (got == 0 || !would_block(errno)) {
          // A last line without its line break is still a command.
          if (!client.in.empty() && client.in.back() != '\n') client.in += '\n';
          client.hung_up = true;
        }
      } else if (revents & (POLLERR | POLLHUP)) {
        client.done = true;
        client.out.clear();
      }
      answer_lines(m_sim, client);
      if (!client.out.empty()) {
        ssize_t const sent = ::send(client.fd.lowlevel_fd(), client.out.data(), client.out.size(),
                                    MSG_DONTWAIT | MSG_NOSIGNAL);
        if (sent > 0) {
          client.out.erase(0, static_cast<std::size_t>(sent));
        } else if (sent < 0 && !would_block(errno)) {
          client.done = true;
          client.out.clear();
        }
      }
    }
    std::erase_if(clients, [](Client const& client) { return client.finished(); });

    if (polled[1].revents & POLLIN) {
      Fd accepted(::accept4(m_listener.lowlevel_fd(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
      if (accepted) {
        clients.push_back({std::move(accepted), {}, {}, false, false});
      } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED) {
        Errno const error;
        report("boardsim: control socket ", m_name, ": accept: ", error);
        accept_paused = true;
        accept_resumes = Clock::now() + std::chrono::milliseconds(kAcceptPauseMs);
      }
    }
  }
}

}  // namespace BoardSim
