#include "slots/t38/t38_soft_slot.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/child_exec.h"
#include "foundation/ext.h"
#include "foundation/fd.h"

namespace {

// The parent sees 237: what a child that could not become the relay exits with.
constexpr int kExecFailed = 1005;
constexpr std::uint32_t kTransparent = 2;

}  // namespace

T38SoftSlot::T38SoftSlot(int pid, int channel) : pid(pid), channel(channel) {
  childWait.Bind(this, &T38SoftSlot::OnT38Terminate);
  childWait.Attach(pid);
}

void T38SoftSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool T38SoftSlot::IBeforeDestroy() {
  // The child's end is reaped without the slot: nothing waits for it.
  if (pid >= 1) ::kill(pid, SIGTERM);
  return true;
}

void T38SoftSlot::OnT38Terminate(int status) {
  int const signal = status & 127;
  if (signal == 0)
    std::clog << ext::header(this) << "t38 daemon terminated with code=" << std::dec << ((status & 0xff00) >> 8)
              << std::endl;
  else if (signal != 127)
    std::clog << ext::header(this) << "t38 daemon terminated by signal=" << std::dec << signal << std::endl;
  pid = -1;
  OnAbort(status);
}

void T38SoftSlot::PutHeader(std::ostream& os) const { os << *this << ": "; }

T38SoftFactory& T38SoftFactory::instance() {
  static T38SoftFactory factory;
  return factory;
}

Slot* T38SoftFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.t38soft_isSelected()) return nullptr;
  LGCP::T38Soft const& t38 = params.get_t38soft();
  Fd fd(Board::io().open(Board::kMccControl, O_RDWR));
  if (!fd) {
    int const error = errno;
    std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to open <" << Board::kMccControl << "> ["
              << std::dec << error << "]" << std::endl;
    return nullptr;
  }
  Board::MccAllocate allocation{kTransparent, static_cast<std::uint32_t>(t38.get_rx_packet_size().getValue()), 0,
                                static_cast<std::uint32_t>(t38.get_rx_threshold().getValue()),
                                static_cast<std::uint32_t>(t38.get_tx_threshold().getValue())};
  if (Board::io().ioctl(fd.lowlevel_fd(), Board::MCC_ALLOCATE, &allocation) < 0) {
    int const error = errno;
    std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_ALLOCATE [" << std::dec << error
              << "]" << std::endl;
    return nullptr;
  }
  int const channel = Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0);
  if (channel < 0) {
    int const error = errno;
    std::cerr << ext::header(this) << "T38SoftFactory::INewSlot - FAIL to ioctl MCC_TIMESLOT [" << std::dec << error
              << "]" << std::endl;
    return nullptr;
  }

  TERM::HostAddress const& remote = t38.get_dhost();
  std::vector<std::string> args = {kProgram, "--child", "--remote",
                                   std::string(remote.get_iaddr()) + "/" + std::to_string(remote.get_port().getValue()) +
                                       "/" + std::to_string(t38.get_shost().get_port().getValue())};
  for (ASN1::IA5String const& arg : t38.get_args()) {
    if (args.size() == kMaxArgs) break;
    args.push_back(arg);
  }
  std::clog << ext::header(this) << "args for run t38 daemon:" << std::endl;
  for (std::size_t i = 0; i < args.size(); ++i) std::clog << ext::header(this) << "arg[" << i << "]=" << args[i] << std::endl;
  pid_t const pid = ChildExec::Start(args, {.input = fd.lowlevel_fd(), .exec_failed = kExecFailed});
  if (pid < 0) return nullptr;
  std::clog << ext::header(this) << "t38 daemon[" << std::dec << pid << "] successfully started" << std::endl;
  // The parent's copy of the channel closes on return; the child keeps the channel.
  return new T38SoftSlot(pid, channel);
}

void T38SoftFactory::Query(LGCP::Resources& resources) { resources.set_t38_instances(QueryNumOfInstances()); }

int T38SoftFactory::QueryNumOfInstances() {
  std::string const command = std::string(kProgram) + " --num-of-instances";
  FILE* const pipe = ::popen(command.c_str(), "r");
  if (!pipe) {
    std::clog << "t38 daemon not found!" << std::endl;
    return 0;
  }
  char line[32];
  bool const got = std::fgets(line, sizeof line, pipe) != nullptr;
  ::pclose(pipe);
  if (!got) {
    std::clog << "t38: can't detect T38 resources" << std::endl;
    return 0;
  }
  return std::atoi(line);
}
