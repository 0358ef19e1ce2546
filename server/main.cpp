// The gateway server: reads its options and configuration, creates the slot factories and
// the hardware services, binds the controller-facing services in the order in which
// commands are offered to them, listens for the controller and runs the event loop until
// SIGTERM or SIGINT.

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <getopt.h>
#include <iostream>
#include <string>

#include "foundation/child_wait.h"
#include "foundation/daemon.h"
#include "foundation/dpc.h"
#include "foundation/ini_file.h"
#include "foundation/multiplexer.h"
#include "foundation/run.h"
#include "foundation/signal.h"
#include "foundation/trace_ctl.h"
#include "foundation/version.h"
#include "hardware/hw_mux.h"
#include "monitoring/monitoring_ctl.h"
#include "protocol/acceptor_net.h"
#include "server/board/board_thread.h"
#include "server/bus_ctl.h"
#include "server/control_server.h"
#include "server/e1_ctl.h"
#include "server/heartbeat.h"
#include "server/hw_tests.h"
#include "server/slots.h"
#include "server/spi_ctrl.h"
#include "server/start_up/slot_factories.h"

namespace {

char const kConfigurationFile[] = "/usr/local/etc/server.conf";
char const kStatusFile[] = "/var/log/server-status";
char const kRunName[] = "server";
char const kDaemonPrefix[] = "kvd-";
constexpr int kDefaultPort = 20001;

// Set by signal handlers only; the deferred call below does the work.
volatile std::sig_atomic_t doDumpStatus = 0;
volatile std::sig_atomic_t updateResources = 0;

void SigPipeHandler(int, siginfo_t*, void*) {}
void SigTermHandler(int, siginfo_t*, void*) { multiplexer.terminate(); }
void SigUsr2Handler(int, siginfo_t*, void*) { doDumpStatus = 1; }
void SigHupHandler(int, siginfo_t*, void*) { updateResources = 1; }

void Usage() {
  std::cout << "Usage:" << std::endl
            << " vostrand -Dh" << std::endl
            << "  -D --daemon                      run as daemon" << std::endl
            << "  -p --port                        use this port" << std::endl
            << "     --disable-clock               disable clock control" << std::endl
            << "     --version                     print version" << std::endl
            << "  -h --help                        display this information" << std::endl
            << std::endl;
}

void CheckDumpStatus() {
  if (!doDumpStatus) return;
  doDumpStatus = 0;
  std::ofstream out(kStatusFile, std::ios::trunc);
  if (!out) {
    std::cerr << "dump status error" << std::endl;
    return;
  }
  out << "server status information." << std::endl << "version : " << Version::current << std::endl;
  multiplexer.dump(out);
}

void CheckUpdateResources() {
  if (!updateResources) return;
  updateResources = 0;
  std::clog << "update hardware resources" << std::endl;
  Slots::instance().UpdateHardwareResources();
}

void CheckSignals() {
  CheckDumpStatus();
  CheckUpdateResources();
}

void RunDaemon() {
  Daemon::Params params;
  params.name = std::string(kDaemonPrefix) + Version::current.tag();
  Daemon::Init(params);
}

}  // namespace

int main(int argc, char** argv) {
  // The streams keep buffers of their own: a log line is one write, not one per piece.
  // Lines still go out whole at every std::endl, and error output stays unit-buffered.
  std::ios::sync_with_stdio(false);
  opterr = 1;
  int port = kDefaultPort;
  bool daemon = false;
  int print_version = 0;

  IniFile::File configuration;
  if (configuration.Open(kConfigurationFile)) {
    traces = TraceCtl();
    traces.Configure(configuration["traces"]);
  }

  IPC::Signal::handle(SIGPIPE, &SigPipeHandler, SA_RESTART);
  IPC::Signal::handle(SIGTERM, &SigTermHandler, 0);
  IPC::Signal::handle(SIGINT, &SigTermHandler, 0);
  IPC::Signal::handle(SIGUSR2, &SigUsr2Handler, SA_RESTART);
  IPC::Signal::handle(SIGHUP, &SigHupHandler, SA_RESTART);

  enum { kDisableClock = 256, kPort };
  option const options[] = {{"daemon", no_argument, nullptr, 'D'},
                            {"disable-clock", no_argument, nullptr, kDisableClock},
                            {"port", required_argument, nullptr, kPort},
                            {"version", no_argument, &print_version, 1},
                            {"help", no_argument, nullptr, 'h'},
                            {nullptr, 0, nullptr, 0}};
  for (int c; (c = getopt_long(argc, argv, "Dh", options, nullptr)) != -1;) {
    switch (c) {
      case 0: break;  // a flag option
      case 'D': daemon = true; break;
      case kDisableClock: BusCtl::instance().DisableControl(); break;
      case kPort: port = std::atoi(optarg); break;
      case 'h': Usage(); return 0;
      default: Usage(); return 2;
    }
  }
  if (print_version) {
    std::cout << "server version: " << Version::current << std::endl;
    return 2;
  }

  MakeSlotFactories();
  HwMux::instance();
  MonitoringCtl::instance().Configure(configuration);

  if (daemon) RunDaemon();
  std::unique_ptr<BoardThread> board = StartBoardThread();
  {
    Linux::Run run(kRunName);
    std::cout << "Starting server " << "[" << Version::current << "]" << ", port=" << std::dec << port << std::endl;

    ctrlServer.Bind(&HeartBeatCtl::instance());
    ctrlServer.Bind(&Slots::instance());
    ctrlServer.Bind(&HwTests::instance());
    ctrlServer.Bind(&BusCtl::instance());
    ctrlServer.Bind(&E1Ctl::instance());
    ctrlServer.Bind(&spiCtrl::instance());  // brings the BRI channels up
    ctrlServer.Bind(&MonitoringCtl::instance());
    ChildWait::Activate();
    Dpc signals;
    signals.Bind(&CheckSignals);
    signals.Activate();
    ctrlServer.Activate(new Control::AcceptorNetCheckConnection(port));

    multiplexer.run(true, true);

    ctrlServer.Deactivate();
  }
  board.reset();
  return 0;
}
