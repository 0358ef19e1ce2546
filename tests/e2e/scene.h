#pragma once
// Runs the built daemon as it runs on the board, from outside: in a private mount
// namespace (fresh tmpfs over /var and /usr/local, where its fixed paths lie) and a
// private network namespace with only loopback up, so that nothing it is driven to do
// reaches the machine. Everything a test does with the daemon happens in that scene.

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// The built programs.
std::string server_sim_program();
std::string server_program();

// The daemon's fixed paths the tests look at.
inline constexpr char kConfigurationFile[] = "/usr/local/etc/server.conf";
inline constexpr char kPidFile[] = "/var/run/server.pid";
inline constexpr char kStatusFile[] = "/var/log/server-status";
inline constexpr int kPort = 20001;

// body runs in a forked child inside the scene and returns "" when its checks pass, else
// what failed. The result is "" on success, else the body's failure or why the scene
// could not be made (not root, for example).
std::string in_scene(std::function<std::string()> const& body, unsigned seconds = 120);

std::string read_file(std::string const& path);
void write_file(std::string const& path, std::string const& text);

struct DaemonOptions {
  std::string program = server_sim_program();
  std::vector<std::string> args;
  // Written to the configuration file when not empty.
  std::string configuration;
  // Extra NAME=VALUE entries of the daemon's environment.
  std::vector<std::string> environment;
  // The program forks into the background (-D): the process started must exit 0, and
  // the daemon is the process the pid file names, reaped here as its subreaper.
  bool detaches = false;
  // Where start() waits for it to listen (the args choose it).
  int port = kPort;
  // Where its standard output and error go (two daemons at once need two).
  std::string output_file = "/var/log/daemon-output";
};

// One run of the daemon with its standard output and error going to a file.
class Daemon {
public:
  explicit Daemon(DaemonOptions options = {});
  ~Daemon();
  Daemon(Daemon const&) = delete;
  Daemon& operator=(Daemon const&) = delete;

  // "" once the daemon runs and listens on its port, else what went wrong.
  std::string start(int wait_ms = 20000);
  // For a run that ends by itself (--help, --version, a bad option): the raw wait status,
  // or -1 when it does not end within wait_ms.
  int run_to_end(int wait_ms = 20000);
  pid_t pid() const { return m_pid; }
  std::string output() const;
  // Whether `text` shows in the output within wait_ms.
  bool wait_output(std::string const& text, int wait_ms = 5000) const;
  // Sends `sig` and waits for the end: "" when the daemon exited with status 0 and the
  // output holds no sanitizer report, else how it ended.
  std::string stop(int sig = 15, int wait_ms = 20000);
  // Waits for the end without a signal; the raw wait status, or -1 when it goes on.
  int wait_end(int wait_ms);

private:
  // Starts the program; "" or what went wrong.
  std::string spawn();

  DaemonOptions m_options;
  pid_t m_pid = -1;
  std::string m_output_file;
};

// Polls `done` every few milliseconds for at most wait_ms of real time.
bool eventually(std::function<bool()> const& done, int wait_ms = 5000);

}  // namespace e2e
