#include "tests/support/child_process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <signal.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace test {

void require_tool(std::string const& tool, std::string const& package) {
  std::string const command = "command -v " + tool + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0)
      << tool << " is not installed: this test needs it (Debian package " << package
      << ", listed in tools/packages; make test installs it)";
}

ChildProcess::ChildProcess(std::vector<std::string> const& argv, std::string const& out, std::string const& err,
                           std::string const& in) {
  m_pid = ::fork();
  if (m_pid != 0) return;
  int const i = ::open(in.c_str(), O_RDONLY);
  int const o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int const e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (i < 0 || o < 0 || e < 0) ::_exit(126);
  ::dup2(i, 0);
  ::dup2(o, 1);
  ::dup2(e, 2);
  std::vector<char*> args;
  for (std::string const& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  ::execvp(args[0], args.data());
  std::string const message = "cannot run " + argv[0] + ": " + std::strerror(errno) + "\n";
  [[maybe_unused]] ssize_t const n = ::write(2, message.data(), message.size());
  ::_exit(127);
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0 && !ended()) {
    ::kill(m_pid, SIGKILL);
    while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
    }
  }
}

bool ChildProcess::ended(int* status) {
  if (m_pid <= 0) {
    if (status) *status = m_status;
    return true;
  }
  if (::waitpid(m_pid, &m_status, WNOHANG) != m_pid) return false;
  m_pid = -1;
  if (status) *status = m_status;
  return true;
}

bool ChildProcess::wait(int ms, int* status) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!ended(status)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string read_file(std::string const& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> split(std::string const& text, char separator) {
  std::vector<std::string> parts;
  if (text.empty()) return parts;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find(separator, from)) != std::string::npos; from = at + 1)
    parts.push_back(text.substr(from, at - from));
  parts.push_back(text.substr(from));
  return parts;
}

std::string describe_status(int status) {
  if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

namespace {
template <class Ready>
bool wait_until(int ms, Ready ready) {
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!ready()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}
}  // namespace

bool wait_for_socket_file(std::string const& path, int ms) {
  // The file appears at bind, before listen: only the kernel's table of unix sockets
  // tells that a connect would now be accepted (flag __SO_ACCEPTCON, 0x10000).
  return wait_until(ms, [&] {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode)) return false;
    std::istringstream table(read_file("/proc/net/unix"));
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, refs, protocol, flags, type, state, inode, name;
      fields >> slot >> refs >> protocol >> flags >> type >> state >> inode >> name;
      if (name == path && (std::stoul(flags, nullptr, 16) & 0x10000)) return true;
    }
    return false;
  });
}

bool wait_for_tcp_port(int port, int ms) {
  // Reads the kernel's table of listeners instead of connecting, which a one-shot
  // listener would take as its one client.
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  return wait_until(ms, [&] {
    std::istringstream table(read_file("/proc/net/tcp"));
    for (std::string line; std::getline(table, line);) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0) return true;
    }
    return false;
  });
}

TempDir::TempDir(std::string const& prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data())) m_path = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
}

}  // namespace test
