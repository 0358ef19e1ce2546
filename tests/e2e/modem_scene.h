#pragma once
// What a scene needs for the DSP modems: their terminals "/dev/mdm<n>" and the program
// that stands in for the PPP daemon and the fax programs at their fixed paths
// (tests/programs/modem_program.cpp). For the body of e2e::in_scene, before the daemon
// starts: the terminals need the scene's mount namespace.

#include <string>
#include <vector>

#include "foundation/fd.h"

namespace e2e {

inline constexpr char kPppd[] = "/usr/local/sbin/pppd";
inline constexpr char kFaxSender[] = "/usr/local/sbin/fax";
inline constexpr char kFaxReceiver[] = "/usr/local/bin/fax";

// A private /dev (test::mount_private_dev) with a devpts instance of its own, and
// "/dev/mdm<n>" linked to the slave of a pseudo-terminal whose master is read here. The
// slaves are held open too, so that a program closing its terminal hangs nothing up.
class ModemTerminals {
public:
  // "" once /dev/mdm0 .. /dev/mdm<count - 1> exist, else what failed.
  std::string make(unsigned count = 4);
  // The next line written on terminal n, without its "\r\n"; "" when none comes within
  // wait_ms.
  std::string next_line(unsigned n, int wait_ms = 5000);

private:
  std::vector<Fd> m_masters, m_slaves;
  std::vector<std::string> m_pending;
};

// Copies the program to the three fixed paths; "" or what failed.
std::string install_modem_programs();
// What the program at `path` does when it next starts ("exit 1", "hup 0", "ignore").
void set_mode(std::string const& path, std::string const& mode);

// One start of the program at a path, from its log.
struct ProgramRun {
  int pid = 0;
  long long ms = 0;               // wall-clock milliseconds at its start
  std::vector<std::string> argv;  // argv[0] included
  int hangups = 0;
  bool exited = false;
  int code = 0;
};
std::vector<ProgramRun> program_runs(std::string const& path);
// The run with that pid, or the `index`-th start (from 0), once its start is logged
// within wait_ms; a run with pid 0 when none is.
ProgramRun wait_run(std::string const& path, std::size_t index, int wait_ms = 5000);
ProgramRun wait_pid(std::string const& path, int pid, int wait_ms = 5000);

}  // namespace e2e
