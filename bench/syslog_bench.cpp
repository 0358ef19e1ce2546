// 100,000 records through SysLogManager::syslog with no flush between them, beside the C
// library's syslog() with the same format, both to one datagram listener at "/dev/log".
// The rate is counted at the listener: records received per second from the first call
// to the arrival of the last record. "/dev/log" is fixed, so the benchmark process moves
// into a mount namespace of its own with a private /dev first (it needs root).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <thread>
#include <unistd.h>

#include "foundation/fd.h"
#include "foundation/syslog_manager.h"
#include "tests/support/private_mounts.h"

namespace {

constexpr long kRecords = 100000;
using Clock = std::chrono::steady_clock;

std::string const& namespace_problem() {
  static std::string const problem = [] {
    std::string p = test::enter_private_mounts({});
    return p.empty() ? test::mount_private_dev() : p;
  }();
  return problem;
}

// Counts the records arriving at /dev/log on a thread of its own.
class Listener {
public:
  Listener() : m_socket(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    ::unlink(address.sun_path);
    if (::bind(m_socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
      m_problem = std::string("bind /dev/log: ") + std::strerror(errno);
  }
  std::string const& problem() const { return m_problem; }

  // Counts until `expected` records have arrived, or until they stop coming.
  void start(long expected) {
    m_thread = std::thread([this, expected] { m_complete = count(expected); });
  }
  // Waits for the count; returns the arrival time of the last record.
  bool finish(Clock::time_point* last) {
    m_thread.join();
    *last = m_last;
    return m_complete;
  }

private:
  bool count(long expected) {
    std::string buffer(65536, '\0');
    long records = 0;
    pollfd record{m_socket.lowlevel_fd(), POLLIN, 0};
    while (records < expected) {
      if (::poll(&record, 1, 5000) <= 0) return false;
      ssize_t const n = ::recv(m_socket.lowlevel_fd(), buffer.data(), buffer.size(), 0);
      if (n <= 0) continue;
      // A batch holds NUL-ended records; the C library sends one record without a NUL.
      long const ended = static_cast<long>(std::count(buffer.data(), buffer.data() + n, '\0'));
      records += ended + (buffer[static_cast<std::size_t>(n) - 1] != '\0' ? 1 : 0);
    }
    m_last = Clock::now();
    return records == expected;
  }

  Fd m_socket;
  std::string m_problem;
  std::thread m_thread;
  bool m_complete = false;
  Clock::time_point m_last;
};

Listener* listener() {
  static Listener* const instance = new Listener;
  return instance;
}

template <class Send>
void measure(benchmark::State& state, Send send) {
  if (!namespace_problem().empty()) {
    state.SkipWithError(namespace_problem().c_str());
    return;
  }
  Listener& l = *listener();
  if (!l.problem().empty()) {
    state.SkipWithError(l.problem().c_str());
    return;
  }
  double seconds = 0;
  for (auto _ : state) {
    l.start(kRecords);
    Clock::time_point const begin = Clock::now();
    send();
    Clock::time_point last;
    if (!l.finish(&last)) {
      state.SkipWithError("records were lost on the way to the listener");
      return;
    }
    double const elapsed = std::chrono::duration<double>(last - begin).count();
    state.SetIterationTime(elapsed);
    seconds += elapsed;
  }
  state.counters["records_per_s"] = benchmark::Counter(static_cast<double>(kRecords * state.iterations()) / seconds);
}

void BM_SysLogManager(benchmark::State& state) {
  measure(state, [] {
    syslogManager.openlog("bench", LOG_NDELAY, 0);
    for (long i = 0; i < kRecords; ++i)
      syslogManager.syslog(LOG_DAEMON | LOG_INFO, "Control::Service::Send: message %ld sent to the controller", i);
    syslogManager.sendmsg();
  });
}

void BM_LibcSyslog(benchmark::State& state) {
  measure(state, [] {
    ::openlog("bench", LOG_NDELAY, LOG_USER);
    for (long i = 0; i < kRecords; ++i)
      ::syslog(LOG_DAEMON | LOG_INFO, "Control::Service::Send: message %ld sent to the controller", i);
  });
}

BENCHMARK(BM_SysLogManager)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LibcSyslog)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
