#include "tests/e2e/scene.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/support/own_process.h"
#include "tests/support/private_mounts.h"
#include "tests/support/private_network.h"

namespace e2e {

namespace {

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

// The folders the daemon writes below the two tmpfs mounts.
char const* const kFolders[] = {"/var/run",       "/var/log",       "/var/monitoring", "/usr/local/etc",
                                "/usr/local/sbin", "/usr/local/bin", "/usr/local/voice"};

// Read from /proc rather than by connecting: a connection would take the daemon's one
// controller place for a moment.
bool port_listens(int port) {
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  char wanted[16];
  std::snprintf(wanted, sizeof wanted, ":%04X", port);
  while (std::getline(tcp, line)) {
    std::istringstream in(line);
    std::string slot, local, remote, state;
    in >> slot >> local >> remote >> state;
    if (local.size() > 5 && local.compare(local.size() - 5, 5, wanted) == 0 && state == "0A") return true;
  }
  return false;
}

}  // namespace

std::string server_sim_program() { return GW_BIN_DIR "/server-sim"; }
std::string server_program() { return GW_BIN_DIR "/server"; }

std::string read_file(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(std::string const& path, std::string const& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool eventually(std::function<bool()> const& done, int wait_ms) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string in_scene(std::function<std::string()> const& body, unsigned seconds) {
  return test::in_own_process(
      [&]() -> std::string {
        if (std::string const failed = test::enter_private_mounts({"/var", "/usr/local"}); !failed.empty())
          return failed;
        for (char const* folder : kFolders)
          if (::mkdir(folder, 0755) != 0) return failure(std::string("mkdir ") + folder);
        if (std::string const failed = test::enter_private_network(); !failed.empty()) return failed;
        std::string result = body();
        // Helpers that report through gtest (the stand-in's client) do so in this child.
        if (result.empty() && ::testing::Test::HasFailure()) result = "a check inside the scene failed (see above)";
        return result;
      },
      seconds);
}

Daemon::Daemon(DaemonOptions options) : m_options(std::move(options)), m_output_file(m_options.output_file) {}

Daemon::~Daemon() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
  }
}

std::string Daemon::start(int wait_ms) {
  if (std::string const failed = spawn(); !failed.empty()) return failed;
  if (m_options.detaches) {
    int const status = wait_end(wait_ms);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
      return "the program did not go into the background cleanly:\n" + output();
    if (!eventually([] { return !read_file(kPidFile).empty(); }, wait_ms))
      return "no pid file after going into the background:\n" + output();
    m_pid = std::atoi(read_file(kPidFile).c_str());
    if (m_pid <= 0) return "the pid file holds no pid";
  }
  bool const listening = eventually(
      [&] {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
          m_pid = -1;
          return true;
        }
        return port_listens(m_options.port);
      },
      wait_ms);
  if (m_pid < 0) return "the daemon ended at start:\n" + output();
  if (!listening) return "the daemon does not listen on its port:\n" + output();
  return {};
}

int Daemon::run_to_end(int wait_ms) {
  if (!spawn().empty()) return -1;
  return wait_end(wait_ms);
}

std::string Daemon::spawn() {
  if (!m_options.configuration.empty()) write_file(kConfigurationFile, m_options.configuration);
  int const out = ::open(m_output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  if (out < 0) return failure("open " + m_output_file);
  std::vector<std::string> words = {m_options.program};
  words.insert(words.end(), m_options.args.begin(), m_options.args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment = m_options.environment;
  // The test's own entries override the inherited ones of the same name.
  for (char** e = environ; *e; ++e) {
    std::string const entry(*e);
    std::string const name = entry.substr(0, entry.find('=') + 1);
    bool overridden = false;
    for (std::string const& mine : m_options.environment) overridden = overridden || mine.rfind(name, 0) == 0;
    if (!overridden) environment.push_back(entry);
  }
  std::vector<char*> envp;
  for (auto& e : environment) envp.push_back(e.data());
  envp.push_back(nullptr);

  // Orphans of this process come back to it, so a daemon that went into the background
  // is still reaped here, with its exit status.
  if (m_options.detaches) ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  pid_t const parent = ::getpid();
  m_pid = ::fork();
  if (m_pid < 0) return failure("fork");
  if (m_pid == 0) {
    // A test that dies takes its daemon along.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::dup2(out, 1);
    ::dup2(out, 2);
    int const null = ::open("/dev/null", O_RDONLY);
    if (null >= 0) ::dup2(null, 0);
    ::execvpe(argv[0], argv.data(), envp.data());
    std::fprintf(stderr, "exec %s: %s\n", argv[0], std::strerror(errno));
    ::_exit(127);
  }
  ::close(out);
  return {};
}

std::string Daemon::output() const { return read_file(m_output_file); }

bool Daemon::wait_output(std::string const& text, int wait_ms) const {
  return eventually([&] { return output().find(text) != std::string::npos; }, wait_ms);
}

int Daemon::wait_end(int wait_ms) {
  int status = -1;
  bool const ended = eventually(
      [&] {
        int s = 0;
        if (m_pid > 0 && ::waitpid(m_pid, &s, WNOHANG) == m_pid) {
          status = s;
          return true;
        }
        return false;
      },
      wait_ms);
  if (!ended) return -1;
  m_pid = -1;
  return status;
}

std::string Daemon::stop(int sig, int wait_ms) {
  if (m_pid <= 0) return "the daemon is not running";
  ::kill(m_pid, sig);
  int const status = wait_end(wait_ms);
  std::string const said = output();
  if (status == -1) return "the daemon did not end within " + std::to_string(wait_ms) + " ms:\n" + said;
  if (WIFSIGNALED(status)) return "the daemon was killed by signal " + std::to_string(WTERMSIG(status)) + ":\n" + said;
  if (WEXITSTATUS(status) != 0) return "the daemon exited with " + std::to_string(WEXITSTATUS(status)) + ":\n" + said;
  if (said.find("Sanitizer") != std::string::npos) return "a sanitizer report:\n" + said;
  return {};
}

}  // namespace e2e
