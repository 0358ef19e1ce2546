// The tone and DSP services' event handlers per record (read, lookup among 256
// receivers, the log line into a discarding buffer, the receiver's callback) beside a
// bare read of the same datagrams from a socket pair, timed in alternating turns in the
// same run. Steady records must not allocate, and a million of them must not grow the
// resident set.
//
// The services open their devices through a minimal Board::Io whose opens are socket-pair
// ends; the bench writes the records into the other ends.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "bench/allocation_count.h"
#include "foundation/board_io.h"
#include "foundation/fd.h"
#include "foundation/trace_ctl.h"
#include "hardware/dsproc_receiver.h"
#include "hardware/tonec_receiver.h"

namespace {

constexpr unsigned kReceivers = 256;
constexpr unsigned kBatch = 64;  // records per turn: well inside a socket's queue
constexpr long kMillion = 1000000;

struct PairIo : Board::Io {
  int open(char const* path, int) override {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends) != 0) return -1;
    peers[path] = Fd(ends[0]);
    return ends[1];
  }
  int ioctl(int, unsigned long, void*) override { return 0; }
  int ioctl_value(int, unsigned long, unsigned long) override { return 0; }
  ssize_t read(int fd, void* buf, std::size_t len) override { return ::read(fd, buf, len); }
  ssize_t write(int fd, void const* buf, std::size_t len) override { return ::write(fd, buf, len); }
  std::map<std::string, Fd> peers;  // the board's ends, by device
};

struct NullBuffer : std::streambuf {
  int overflow(int c) override { return traits_type::not_eof(c); }
  std::streamsize xsputn(char const*, std::streamsize n) override { return n; }
};

struct BenchReceiver : Hardware::TonecReceiver, Hardware::DSProcReceiver {
  explicit BenchReceiver(unsigned timeslot) : ts(timeslot) {}
  void tonec_event(Params const& params) override { sum += params.code; }
  unsigned tonec_timeslot() const override { return ts; }
  void dsproc_vad_event(Hardware::DSProcVADEvent const& event) override { sum += static_cast<unsigned>(event.rx); }
  void dsproc_bss_event(Board::dsproc_bss_event const*) override {}
  void dsproc_sd_event(Hardware::DSProcSDEvent const&) override {}
  void dsproc_tone_flt_event(Board::dsproc_tone_event const*) override {}
  void dsproc_flags_event(Board::dsproc_flags_event const*) override {}
  unsigned dsproc_timeslot() const override { return ts; }
  unsigned ts;
  unsigned sum = 0;
};

// Both services, opened on the pair board, with 256 receivers that have DTMF and VAD on
// (ids 1..256 by timeslot). Made once: the services keep their descriptors; reads then
// go to the system as the daemon's do.
struct Board256 {
  PairIo io;
  std::vector<std::unique_ptr<BenchReceiver>> receivers;

  Board256() {
    NullBuffer null;
    std::streambuf* const saved_err = std::cerr.rdbuf(&null);  // the enables' lines
    Board::Io* const previous = Board::install(&io);
    Hardware::TonecReceiverService::instance().set_idCounter(0);
    Hardware::DSProcReceiverService::instance().set_idCounter(0);
    for (unsigned ts = 0; ts < kReceivers; ++ts) {
      receivers.push_back(std::make_unique<BenchReceiver>(ts));
      receivers.back()->enableDTMF(true);
      receivers.back()->enableVAD(true);
    }
    Board::install(previous);
    std::cerr.rdbuf(saved_err);
  }
  static Board256& instance() {
    static Board256* const board = new Board256;
    return *board;
  }
};

// The log stream into a discarding buffer and the event trace on, as in a busy daemon
// that logs every event.
struct LoggingDaemon {
  NullBuffer null;
  std::streambuf* saved = std::clog.rdbuf(&null);
  LoggingDaemon() { traces.signalling.events = true; }
  ~LoggingDaemon() {
    traces.signalling.events = false;
    std::clog.rdbuf(saved);
  }
};

// Records spread over the timeslots of all 256 receivers.
std::uint32_t timeslot_of(unsigned i) { return (i * 97u) % kReceivers; }

Board::DtmfEvent tone_record(unsigned i) {
  std::uint32_t const ts = timeslot_of(i);
  return {5, ts, i, ts + 1};
}

Board::DsprocEvent vad_record(unsigned i) {
  std::uint32_t const ts = timeslot_of(i);
  Board::DsprocEvent record{ts, ts + 1, Board::kDsprocEventVad, {}};
  Board::dsproc_vad_event const vad{3, 1, 0};
  std::memcpy(record.payload, &vad, sizeof vad);
  return record;
}

template <class Record>
bool write_batch(int fd, std::vector<Record> const& batch) {
  for (Record const& record : batch)
    if (::write(fd, &record, sizeof record) != static_cast<ssize_t>(sizeof record)) return false;
  return true;
}

template <class Record>
void bare_read(int fd) {
  Record record;
  while (::read(fd, &record, sizeof record) == static_cast<ssize_t>(sizeof record)) benchmark::DoNotOptimize(record);
}

double seconds_of(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The anonymous part of the resident set: what records could leak into. (Code pages
// of the libraries are counted in the whole set the first time they run.)
long resident_kb() {
  long kb = -1;
  if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
    char line[256];
    while (kb < 0 && std::fgets(line, sizeof line, status)) std::sscanf(line, "RssAnon: %ld kB", &kb);
    std::fclose(status);
  }
  return kb;
}

// One service's device, fed a batch of records at a time through the pair board, with
// the log stream discarded and the event trace on.
template <class Service, class Record>
struct Feed {
  Feed(char const* device, Record (*make)(unsigned)) : peer(board.io.peers.at(device).lowlevel_fd()) {
    for (unsigned i = 0; i < kBatch; ++i) batch.push_back(make(i));
  }
  // False when a record did not fit the device's queue.
  bool write() { return write_batch(peer, batch); }
  void handle() { service.OnEvent(service.lowlevel_fd(), POLLIN); }

  Board256& board = Board256::instance();  // first: the services open their devices on it
  LoggingDaemon logging;
  Service& service = Service::instance();
  int peer;
  std::vector<Record> batch;
};

// The handler of `Service` on batches of records, each turn beside a bare read of the
// same batch from a pair of its own.
template <class Service, class Record>
void handler_beside_read(benchmark::State& state, char const* device, Record (*make)(unsigned)) {
  Feed<Service, Record> feed(device, make);
  int bare[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, bare) != 0) {
    state.SkipWithError("socketpair");
    return;
  }
  Fd bare_writer(bare[0]), bare_reader(bare[1]);
  double handler_s = 0, bare_s = 0;
  long allocations = 0;
  for (auto _ : state) {
    if (!feed.write() || !write_batch(bare_writer.lowlevel_fd(), feed.batch)) {
      state.SkipWithError("a record did not fit the queue");
      break;
    }
    auto const t0 = std::chrono::steady_clock::now();
    bare_read<Record>(bare_reader.lowlevel_fd());
    auto const t1 = std::chrono::steady_clock::now();
    long const before = allocation_count();
    feed.handle();
    allocations += allocation_count() - before;
    auto const t2 = std::chrono::steady_clock::now();
    bare_s += seconds_of(t1 - t0);
    handler_s += seconds_of(t2 - t1);
    state.SetIterationTime(seconds_of(t2 - t1));
  }
  double const records = static_cast<double>(state.iterations()) * kBatch;
  state.counters["handler_ns"] = handler_s * 1e9 / records;
  state.counters["bare_read_ns"] = bare_s * 1e9 / records;
  state.counters["x_bare"] = bare_s > 0 ? handler_s / bare_s : 0;
  state.counters["allocs_per_record"] = static_cast<double>(allocations) / records;
  state.SetItemsProcessed(static_cast<std::int64_t>(records));
}

// A million records through the handler after a warm-up: its allocations, and how much
// the resident set grew.
template <class Service, class Record>
void million(benchmark::State& state, char const* device, Record (*make)(unsigned)) {
  Feed<Service, Record> feed(device, make);
  constexpr long kWarmUpBatches = 1600;
  constexpr long kBatches = kMillion / kBatch;
  static_assert(kBatches * kBatch == kMillion);
  for (auto _ : state) {
    long resident_before = 0, allocations_before = 0;
    for (long n = 0; n < kWarmUpBatches + kBatches; ++n) {
      if (n == kWarmUpBatches) {
        resident_before = resident_kb();
        allocations_before = allocation_count();
      }
      if (!feed.write()) {
        state.SkipWithError("a record did not fit the queue");
        return;
      }
      feed.handle();
    }
    long const allocations = allocation_count() - allocations_before;
    state.counters["rss_growth_kb"] = static_cast<double>(resident_kb() - resident_before);
    state.counters["allocs_per_record"] = static_cast<double>(allocations) / static_cast<double>(kMillion);
  }
}

void BM_TonecEventHandler(benchmark::State& state) {
  handler_beside_read<Hardware::TonecReceiverService>(state, Board::kDtmf, &tone_record);
}
BENCHMARK(BM_TonecEventHandler)->UseManualTime();

void BM_DsprocEventHandler(benchmark::State& state) {
  handler_beside_read<Hardware::DSProcReceiverService>(state, Board::kDsp, &vad_record);
}
BENCHMARK(BM_DsprocEventHandler)->UseManualTime();

void BM_TonecMillionRecords(benchmark::State& state) {
  million<Hardware::TonecReceiverService>(state, Board::kDtmf, &tone_record);
}
BENCHMARK(BM_TonecMillionRecords)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_DsprocMillionRecords(benchmark::State& state) {
  million<Hardware::DSProcReceiverService>(state, Board::kDsp, &vad_record);
}
BENCHMARK(BM_DsprocMillionRecords)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
