#include "tests/e2e/modem_scene.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/scene.h"
#include "tests/support/private_mounts.h"

namespace e2e {

namespace {

std::string failure(std::string const& what) { return what + ": " + std::strerror(errno); }

}  // namespace

std::string ModemTerminals::make(unsigned count) {
  if (std::string const failed = test::mount_private_dev(); !failed.empty()) return failed;
  if (::mkdir("/dev/pts", 0755) != 0) return failure("mkdir /dev/pts");
  if (::mount("devpts", "/dev/pts", "devpts", MS_NOSUID | MS_NOEXEC, "newinstance,ptmxmode=0666") != 0)
    return failure("devpts on /dev/pts");
  if (::symlink("pts/ptmx", "/dev/ptmx") != 0) return failure("symlink /dev/ptmx");
  for (unsigned n = 0; n < count; ++n) {
    Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK));
    if (!master) return failure("posix_openpt");
    if (::grantpt(master.lowlevel_fd()) != 0 || ::unlockpt(master.lowlevel_fd()) != 0) return failure("unlockpt");
    char const* const slave_name = ::ptsname(master.lowlevel_fd());
    if (!slave_name) return failure("ptsname");
    std::string const link = "/dev/mdm" + std::to_string(n);
    if (::symlink(slave_name, link.c_str()) != 0) return failure("symlink " + link);
    Fd slave(::open(slave_name, O_RDWR | O_NOCTTY));
    if (!slave) return failure(std::string("open ") + slave_name);
    m_masters.push_back(std::move(master));
    m_slaves.push_back(std::move(slave));
    m_pending.emplace_back();
  }
  return {};
}

std::string ModemTerminals::next_line(unsigned n, int wait_ms) {
  if (n >= m_masters.size()) return {};
  std::string& pending = m_pending[n];
  int const master = m_masters[n].lowlevel_fd();
  auto const deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  // Woken by the terminal itself: the load driver times cycles through it.
  while (pending.find('\n') == std::string::npos) {
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) return {};
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, static_cast<int>(left.count()) + 1) < 0 && errno != EINTR) return {};
    char buf[512];
    for (ssize_t got; (got = ::read(master, buf, sizeof buf)) > 0;) pending.append(buf, static_cast<std::size_t>(got));
  }
  std::size_t const end = pending.find('\n');
  std::string line = pending.substr(0, end);
  pending.erase(0, end + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

std::string install_modem_programs() {
  for (char const* path : {kPppd, kFaxSender, kFaxReceiver}) {
    std::error_code error;
    std::filesystem::copy_file(GW_MODEM_PROGRAM, path, std::filesystem::copy_options::overwrite_existing, error);
    if (error) return std::string("copy to ") + path + ": " + error.message();
    if (::chmod(path, 0755) != 0) return failure(std::string("chmod ") + path);
  }
  return {};
}

void set_mode(std::string const& path, std::string const& mode) { write_file(path + ".mode", mode); }

std::vector<ProgramRun> program_runs(std::string const& path) {
  std::vector<ProgramRun> runs;
  std::istringstream log(read_file(path + ".log"));
  for (std::string line; std::getline(log, line);) {
    std::istringstream words(line);
    std::string kind;
    int pid = 0;
    words >> kind >> pid;
    if (kind == "start") {
      ProgramRun run;
      run.pid = pid;
      words >> run.ms;
      for (std::string word; words >> word;) run.argv.push_back(word);
      runs.push_back(run);
      continue;
    }
    for (ProgramRun& run : runs) {
      if (run.pid != pid) continue;
      if (kind == "signal") ++run.hangups;
      if (kind == "exit") {
        run.exited = true;
        words >> run.code;
      }
    }
  }
  return runs;
}

ProgramRun wait_run(std::string const& path, std::size_t index, int wait_ms) {
  ProgramRun found;
  eventually(
      [&] {
        auto const runs = program_runs(path);
        if (runs.size() <= index) return false;
        found = runs[index];
        return true;
      },
      wait_ms);
  return found;
}

ProgramRun wait_pid(std::string const& path, int pid, int wait_ms) {
  ProgramRun found;
  eventually(
      [&] {
        for (ProgramRun const& run : program_runs(path))
          if (run.pid == pid) found = run;
        return found.pid != 0;
      },
      wait_ms);
  return found;
}

}  // namespace e2e
