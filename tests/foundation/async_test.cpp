// Connects to real listeners on loopback and copies between real pipes and socket pairs,
// driven by the loop.

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "foundation/async.h"
#include "foundation/board_io.h"
#include "foundation/clock.h"
#include "foundation/multiplexer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/own_process.h"
#include "tests/support/simulated_poll.h"

namespace {

using ConnectStatus = ASync::Connect::Status;
using CopyStatus = ASync::Copy::Status;

// What an object leaves open shows up here.
int open_descriptors() {
  int count = 0;
  for (auto const& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)entry;
    ++count;
  }
  return count;
}

sockaddr_in local_address(Fd const& socket) {
  sockaddr_in address{};
  socklen_t length = sizeof address;
  EXPECT_EQ(::getsockname(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  return address;
}

std::string text_of(sockaddr_in const& address) { return INet4::Addr(address).GetString(); }

// A TCP socket bound to a free port of 127.0.0.1; without listen() it refuses connections
// and keeps the port from being taken meanwhile.
Fd bound_loopback_socket() {
  Fd socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(::bind(socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  return socket;
}

struct Listener {
  explicit Listener(int backlog) : socket(bound_loopback_socket()) {
    EXPECT_EQ(::listen(socket.lowlevel_fd(), backlog), 0);
  }
  std::string address() const { return text_of(local_address(socket)); }
  Fd accept() const { return Fd(::accept(socket.lowlevel_fd(), nullptr, nullptr)); }
  Fd socket;
};

// How many descriptor registrations of that name the loop polls.
int polled(std::string const& name) {
  int count = 0;
  for (EventHandler const& handler : multiplexer.polled_handlers()) count += handler.event_name() == name;
  return count;
}

struct ConnectOwner {
  void OnConnect(ConnectStatus::Type status, Fd socket) {
    statuses.push_back(status);
    at.push_back(Mux::milliseconds());
    this->socket = std::move(socket);
    if (then) then(status);
    multiplexer.terminate();
  }
  std::vector<ConnectStatus::Type> statuses;
  std::vector<unsigned> at;
  Fd socket;
  std::function<void(ConnectStatus::Type)> then;
};

// Runs the loop on the real clock until a handler stops it; the limit only guards a hang.
void run_real(unsigned limit_ms = 2000) {
  test::StopAfter guard(limit_ms);
  multiplexer.run(false, true);
}

using ConnectStatuses = std::vector<ConnectStatus::Type>;

TEST(AsyncConnect, ConnectsToAListenerAndHandsOverTheSocket) {
  Listener listener(4);
  int const before = open_descriptors();
  ConnectOwner owner;
  {
    ASync::Connect connect;
    connect.Bind(&ConnectOwner::OnConnect, &owner);
    connect.Start(listener.address(), 5000);
    run_real();
    ASSERT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Connected});
  }
  ASSERT_TRUE(owner.socket);
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  ASSERT_EQ(::getpeername(owner.socket.lowlevel_fd(), reinterpret_cast<sockaddr*>(&peer), &length), 0);
  EXPECT_EQ(text_of(peer), listener.address());

  // The socket stays connected after the connector is gone.
  Fd accepted = listener.accept();
  ASSERT_TRUE(accepted);
  ASSERT_EQ(write(owner.socket, "ping", 4), 4);
  char buffer[8] = {};
  ASSERT_EQ(read(accepted, buffer, sizeof buffer), 4);
  EXPECT_EQ(std::string(buffer, 4), "ping");

  accepted.close();
  owner.socket.close();
  EXPECT_EQ(open_descriptors(), before) << "the connector keeps no descriptor";
}

TEST(AsyncConnect, RefusedConnectionFailsWithoutASocket) {
  Fd const closed_port = bound_loopback_socket();
  int const before = open_descriptors();
  ConnectOwner owner;
  ASync::Connect connect;
  connect.Bind(&ConnectOwner::OnConnect, &owner);
  connect.Start(text_of(local_address(closed_port)), 5000);
  run_real();
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed});
  EXPECT_FALSE(owner.socket);
  EXPECT_EQ(open_descriptors(), before);
}

TEST(AsyncConnect, TimesOutWhileTheListenerDropsTheHandshake) {
  test::FakeClock clock;
  test::SimulatedPoll poll(clock);
  // With backlog 0 one unaccepted connection fills the queue, and the kernel drops the next
  // SYN: that connect stays in progress for real while the simulated clock runs.
  Listener listener(0);
  Fd first(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in const target = local_address(listener.socket);
  ASSERT_EQ(::connect(first.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&target), sizeof target), 0);
  pollfd queued{listener.socket.lowlevel_fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&queued, 1, 1000), 1) << "the first connection waits in the accept queue";

  ConnectOwner owner;
  auto connect = std::make_unique<ASync::Connect>();
  owner.then = [&](ConnectStatus::Type) { connect.reset(); };
  connect->Bind(&ConnectOwner::OnConnect, &owner);
  unsigned const start = Mux::milliseconds();
  connect->Start(listener.address(), 3000);
  // The loop calls it with no events on passes where other descriptors are ready; a socket
  // still connecting has no pending error and must not pass for connected.
  connect->OnSocketEvent(-1, 0);
  EXPECT_TRUE(owner.statuses.empty());
  {
    test::StopAfter almost(2999);
    multiplexer.run(false, true);
  }
  EXPECT_TRUE(owner.statuses.empty()) << "still connecting just before the time-out";
  EXPECT_EQ(polled("Connect::OnSocketEvent"), 1);
  {
    test::StopAfter guard(10000);
    multiplexer.run(false, true);
  }
  ASSERT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed});
  EXPECT_EQ(owner.at[0] - start, 3000u);
  EXPECT_FALSE(owner.socket);
  EXPECT_EQ(connect, nullptr) << "the handler deleted the connector from inside the time-out";
  EXPECT_EQ(polled("Connect::OnSocketEvent"), 0);
}

// Replaces the connect call to reach what loopback never does, and to see whether it is made.
class ScriptedConnect : public ASync::Connect {
public:
  int result = -1;
  int error = 0;
  std::vector<std::string> targets;

protected:
  int connect_socket(int, INet4::Addr const& address) override {
    targets.push_back(address.GetString());
    errno = error;
    return result;
  }
};

TEST(AsyncConnect, OutcomesDecidedInsideStartAreReportedBeforeItReturns) {
  ConnectOwner owner;
  ScriptedConnect connect;
  connect.Bind(&ConnectOwner::OnConnect, &owner);

  // Texts the address parser rejects are never connected to (they would leave 0.0.0.0).
  // Nor is a text a NUL byte cuts short: the parser would see "127.0.0.1", port 0.
  std::vector<std::string> const rejected = {"gateway.example:20001", "127.0.0.1:65536", "127.0.0.1:", "",
                                             "127.0.0:x", std::string("127.0.0.1\0:20001", 16)};
  for (std::string const& text : rejected) {
    owner.statuses.clear();
    connect.Start(text, 5000);
    EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed}) << test::printable(text);
    EXPECT_FALSE(owner.socket) << test::printable(text);
  }
  EXPECT_TRUE(connect.targets.empty());

  owner.statuses.clear();
  connect.result = 0;
  connect.Start("127.0.0.1:20001", 5000);
  EXPECT_EQ(connect.targets, std::vector<std::string>{"127.0.0.1:20001"});
  ASSERT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Connected});
  int type = 0;
  socklen_t length = sizeof type;
  ASSERT_EQ(::getsockopt(owner.socket.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &length), 0);
  EXPECT_EQ(type, SOCK_STREAM);

  owner.statuses.clear();
  connect.result = -1;
  connect.error = ENETUNREACH;
  connect.Start("127.0.0.1:20001", 5000);
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed});
  EXPECT_FALSE(owner.socket);
}

// Connects for real and returns only once the kernel has decided, so that the test can
// present the socket event it wants.
class SettledConnect : public ASync::Connect {
protected:
  int connect_socket(int fd, INet4::Addr const& address) override {
    int const result = ::connect(fd, address, INet4::Addr::size());
    int const error = errno;
    pollfd decided{fd, POLLOUT, 0};
    EXPECT_EQ(::poll(&decided, 1, 1000), 1);
    errno = error;
    return result;
  }
};

TEST(AsyncConnect, SocketEventsDecideByTheirBits) {
  Listener listener(4);
  Fd const closed_port = bound_loopback_socket();
  ConnectOwner owner;
  SettledConnect connect;
  connect.Bind(&ConnectOwner::OnConnect, &owner);

  // A poll that reports only POLLOUT: the refusal is in the socket's pending error.
  connect.Start(text_of(local_address(closed_port)), 5000);
  connect.OnSocketEvent(-1, POLLOUT);
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed});

  // Error bits win over POLLOUT, even on a socket without a pending error.
  owner.statuses.clear();
  connect.Start(listener.address(), 5000);
  connect.OnSocketEvent(-1, POLLOUT | POLLHUP);
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Failed});
  EXPECT_FALSE(owner.socket);

  owner.statuses.clear();
  connect.Start(listener.address(), 5000);
  connect.OnSocketEvent(-1, POLLOUT);
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Connected});
  EXPECT_TRUE(owner.socket);
}

TEST(AsyncConnect, StopReportsOnlyWhileConnecting) {
  Listener listener(4);
  int const before = open_descriptors();
  ConnectOwner owner;
  ASync::Connect connect;
  connect.Bind(&ConnectOwner::OnConnect, &owner);
  connect.Stop();
  EXPECT_TRUE(owner.statuses.empty()) << "idle";

  connect.Start(listener.address(), 5000);
  connect.Stop();
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Stopped});
  EXPECT_FALSE(owner.socket);
  EXPECT_EQ(multiplexer.pending_timers(), 0u) << "the time-out is cancelled";
  run_real(20);
  connect.Stop();
  EXPECT_EQ(owner.statuses, ConnectStatuses{ConnectStatus::Stopped}) << "nothing after the outcome";
  EXPECT_EQ(open_descriptors(), before);
}

TEST(AsyncConnect, HandlerMayStartAgainOrDeleteTheConnector) {
  Listener listener(4);
  Fd const closed_port = bound_loopback_socket();
  ConnectOwner owner;
  auto connect = std::make_unique<ASync::Connect>();
  owner.then = [&](ConnectStatus::Type status) {
    if (status == ConnectStatus::Failed)
      connect->Start(listener.address(), 5000);
    else
      connect.reset();
  };
  connect->Bind(&ConnectOwner::OnConnect, &owner);
  connect->Start(text_of(local_address(closed_port)), 5000);
  run_real();
  run_real();
  EXPECT_EQ(owner.statuses, (ConnectStatuses{ConnectStatus::Failed, ConnectStatus::Connected}));
  EXPECT_TRUE(owner.socket);
  EXPECT_EQ(connect, nullptr);
}

// ---- Copy

struct Pipe {
  Pipe() {
    int ends[2];
    EXPECT_EQ(::pipe2(ends, O_NONBLOCK | O_CLOEXEC), 0);
    reader = Fd(ends[0]);
    writer = Fd(ends[1]);
  }
  Fd reader;
  Fd writer;
};

// The copier's end and the test's end of a non-blocking stream socket pair.
struct SocketPair {
  SocketPair() {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, ends), 0);
    near = Fd(ends[0]);
    far = Fd(ends[1]);
  }
  // The kernel's smallest send buffer (4608 bytes): an 8192-byte write is taken only in part.
  SocketPair& small() {
    int const size = 1;
    EXPECT_EQ(::setsockopt(near.lowlevel_fd(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size), 0);
    return *this;
  }
  SocketPair& full() {
    small();
    char const chunk[4096] = {};
    while (write(near, chunk, sizeof chunk) > 0) {
    }
    EXPECT_EQ(errno, EAGAIN);
    return *this;
  }
  Fd near;
  Fd far;
};

std::string pattern(std::size_t size) {
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>(i * 7 % 251);
  return data;
}

// Compares without printing kilobytes of binary on failure.
::testing::AssertionResult same_bytes(std::string const& got, std::string const& expected) {
  if (got == expected) return ::testing::AssertionSuccess();
  auto const [at, unused] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  return ::testing::AssertionFailure() << "got " << got.size() << " bytes, expected " << expected.size()
                                       << ", first difference at " << (at - got.begin());
}

void put(Fd& fd, std::string const& data) {
  ASSERT_EQ(write(fd, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
}

// Bytes waiting to be read.
std::size_t queued(Fd const& fd) {
  int count = 0;
  EXPECT_EQ(::ioctl(fd.lowlevel_fd(), FIONREAD, &count), 0);
  return static_cast<std::size_t>(count);
}

std::string take(Fd& fd, std::size_t most) {
  std::string data(most, '\0');
  int const n = read(fd, data.data(), static_cast<unsigned>(most));
  data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return data;
}

std::string take_all(Fd& fd) {
  std::string data;
  for (std::string chunk; !(chunk = take(fd, 65536)).empty();) data += chunk;
  return data;
}

bool at_end(Fd& fd) {
  char c;
  return read(fd, &c, 1) == 0;
}

struct CopyOwner {
  void OnComplete(CopyStatus::Type status) {
    statuses.push_back(status);
    if (then) then(status);
    multiplexer.terminate();
  }
  std::vector<CopyStatus::Type> statuses;
  std::function<void(CopyStatus::Type)> then;
};

using CopyStatuses = std::vector<CopyStatus::Type>;

constexpr ASync::Copy::EventsParams kNoFlush{POLLIN, POLLOUT, 0};

class AsyncCopy : public ::testing::Test {
protected:
  // The daemon ignores SIGPIPE: a write to a vanished peer comes back as EPIPE.
  AsyncCopy() : m_sigpipe(std::signal(SIGPIPE, SIG_IGN)) { copy.Bind(&CopyOwner::OnComplete, &owner); }
  ~AsyncCopy() override { std::signal(SIGPIPE, m_sigpipe); }

  // Runs the loop on simulated time until the handler stops it or `ms` pass. A descriptor
  // that stays ready without being served would spin the loop: that fails instead of hanging.
  void run(unsigned ms = 100) {
    test::StopAfter stop(ms);
    int passes = 0;
    poll.before_poll = [&passes] {
      if (++passes <= 100) return;
      ADD_FAILURE() << "the loop spins";
      multiplexer.terminate();
    };
    multiplexer.run(false, true);
    poll.before_poll = nullptr;
  }

  // Reads the destination slowly, a chunk per run of the loop, until the copy reports.
  std::string read_slowly(Fd& far, std::size_t chunk = 1000) {
    std::string received;
    std::size_t const reported = owner.statuses.size();
    for (int round = 0; round < 1000 && owner.statuses.size() == reported; ++round) {
      received += take(far, chunk);
      run();
    }
    return received + take_all(far);
  }

  test::FakeClock clock;
  test::SimulatedPoll poll{clock};
  CopyOwner owner;
  ASync::Copy copy;

private:
  void (*m_sigpipe)(int);
};

TEST_F(AsyncCopy, CopiesEverythingReadyWithinStartAndClosesBothEnds) {
  Pipe source;
  std::string const data = pattern(60000);
  put(source.writer, data);
  source.writer.close();
  SocketPair destination;
  copy.set_events(kNoFlush);
  copy.Start(std::move(source.reader), std::move(destination.near));
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed}) << "reported inside Start";
  EXPECT_TRUE(same_bytes(take_all(destination.far), data));
  EXPECT_TRUE(at_end(destination.far)) << "the copier closed the destination";
}

// Either end may be a board device, which only the installed board sees written or read.
class CountingIo : public Board::SystemIo {
public:
  ssize_t read(int fd, void* buf, std::size_t len) override {
    ++reads;
    return SystemIo::read(fd, buf, len);
  }
  ssize_t write(int fd, void const* buf, std::size_t len) override {
    ++writes;
    return SystemIo::write(fd, buf, len);
  }
  int reads = 0;
  int writes = 0;
};

TEST_F(AsyncCopy, ReadsAndWritesGoThroughTheBoard) {
  CountingIo io;
  Board::Io* const previous = Board::install(&io);
  Pipe source;
  put(source.writer, pattern(3000));
  source.writer.close();
  SocketPair destination;
  copy.set_events(kNoFlush);
  copy.Start(std::move(source.reader), std::move(destination.near));
  Board::install(previous);
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed});
  EXPECT_EQ(io.reads, 4) << "three of 1024 bytes or less, then the end";
  EXPECT_EQ(io.writes, 3);
  EXPECT_EQ(take_all(destination.far).size(), 3000u);
}

TEST_F(AsyncCopy, SourceAtItsEndAtOnceWaitsForTheFlushMask) {
  Pipe source;
  source.writer.close();
  SocketPair destination;
  destination.full();
  copy.Start(std::move(source.reader), std::move(destination.near));
  EXPECT_TRUE(owner.statuses.empty());
  run();
  EXPECT_TRUE(owner.statuses.empty()) << "a full destination does not report POLLWRNORM";
  // The loop calls it with no events on passes where other descriptors are ready.
  copy.OnDstEvent(-1, 0);
  EXPECT_TRUE(owner.statuses.empty());
  take_all(destination.far);
  run();
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed});
  EXPECT_TRUE(at_end(destination.far));

  // Without a flush mask it ends inside Start, whatever the destination.
  Pipe empty;
  empty.writer.close();
  SocketPair full;
  full.full();
  copy.set_events(kNoFlush);
  copy.Start(std::move(empty.reader), std::move(full.near));
  EXPECT_EQ(owner.statuses, (CopyStatuses{CopyStatus::Completed, CopyStatus::Completed}));
}

TEST_F(AsyncCopy, PartialWritesHoldBackTheReading) {
  Pipe source;
  std::string const data = pattern(40000);
  put(source.writer, data);
  SocketPair destination;
  destination.small();
  copy.set_bufsize(8192);
  copy.set_events(kNoFlush);
  copy.Start(source.reader, std::move(destination.near));
  EXPECT_EQ(queued(source.reader), data.size() - 8192);
  EXPECT_LT(queued(destination.far), 8192u) << "the destination took part of the first write";

  std::string received;
  bool held_back = false;
  for (int round = 0; round < 1000 && owner.statuses.empty(); ++round) {
    std::size_t const read_so_far = data.size() - queued(source.reader);
    std::size_t const delivered = received.size() + queued(destination.far);
    ASSERT_LE(read_so_far - delivered, 8192u) << "nothing is read while bytes are pending";
    held_back |= read_so_far > delivered;
    if (delivered == data.size()) source.writer.close();
    received += take(destination.far, 1000);
    run();
    if (round == 0) {
      EXPECT_EQ(polled("Copy::OnSrcEvent"), 1);
      EXPECT_EQ(polled("Copy::OnDstEvent"), 1);
    }
  }
  EXPECT_TRUE(held_back);
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed});
  EXPECT_TRUE(same_bytes(received + take_all(destination.far), data));
  EXPECT_EQ(polled("Copy::OnSrcEvent") + polled("Copy::OnDstEvent"), 0);
}

TEST_F(AsyncCopy, SourceHangUpLetsTheNextReadDecide) {
  // Waiting to read: the hang-up is the end of the source.
  Pipe idle;
  SocketPair first;
  copy.set_events(kNoFlush);
  copy.Start(std::move(idle.reader), std::move(first.near));
  run();
  EXPECT_TRUE(owner.statuses.empty());
  idle.writer.close();
  run();
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed});

  // Waiting to write: the source is no longer polled, and read once the bytes are out.
  Pipe source;
  std::string const data = pattern(10000);
  put(source.writer, data);
  source.writer.close();
  SocketPair second;
  second.small();
  copy.set_bufsize(8192);
  copy.Start(std::move(source.reader), std::move(second.near));
  run();
  EXPECT_EQ(owner.statuses.size(), 1u) << "still writing";
  EXPECT_TRUE(same_bytes(read_slowly(second.far), data));
  EXPECT_EQ(owner.statuses, (CopyStatuses{CopyStatus::Completed, CopyStatus::Completed}));
}

// A stream socket whose peer closed with data of ours unread fails reads with ECONNRESET,
// once what the peer sent before has been read.
Fd reset_source(std::string const& sent_before) {
  SocketPair pair;
  put(pair.near, "unread");
  if (!sent_before.empty()) put(pair.far, sent_before);
  pair.far.close();
  return std::move(pair.near);
}

TEST_F(AsyncCopy, ReadFailureFailsOnlyBeforeTheFirstByteIsWritten) {
  copy.set_events(kNoFlush);
  SocketPair first;
  copy.Start(reset_source("hello"), std::move(first.near));
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed});
  EXPECT_EQ(take_all(first.far), "hello");
  EXPECT_TRUE(at_end(first.far));

  // The count of written bytes starts again with each copy.
  SocketPair second;
  copy.Start(reset_source(""), std::move(second.near));
  EXPECT_EQ(owner.statuses, (CopyStatuses{CopyStatus::Completed, CopyStatus::Failed}));
  EXPECT_TRUE(at_end(second.far));
}

TEST_F(AsyncCopy, DestinationFailureEndsTheCopy) {
  std::string const data = pattern(10000);
  copy.set_bufsize(8192);
  copy.set_events(kNoFlush);

  // The peer is gone before the first write.
  Pipe source;
  put(source.writer, data);
  SocketPair gone;
  gone.far.close();
  copy.Start(std::move(source.reader), std::move(gone.near));
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Failed});

  // The peer goes while bytes are pending, before and after the source ended.
  for (bool stopped : {false, true}) {
    Pipe more;
    put(more.writer, data);
    SocketPair slow;
    slow.small();
    copy.Start(std::move(more.reader), std::move(slow.near));
    if (stopped) copy.Stop();
    run();
    slow.far.close();
    run();
    EXPECT_EQ(owner.statuses.back(), CopyStatus::Failed) << (stopped ? "stopped" : "copying");
  }
  EXPECT_EQ(owner.statuses.size(), 3u);

  // The peer goes while the copy waits for the flush mask: a hang-up is not a flush.
  copy.set_events(ASync::Copy::EventsParams{});
  Pipe empty;
  empty.writer.close();
  SocketPair full;
  full.full();
  copy.Start(std::move(empty.reader), std::move(full.near));
  run();
  EXPECT_EQ(owner.statuses.size(), 3u);
  full.far.close();
  run();
  EXPECT_EQ(owner.statuses.size(), 4u);
  EXPECT_EQ(owner.statuses.back(), CopyStatus::Failed);
}

TEST_F(AsyncCopy, ChangingTheSettingsEndsARunningCopy) {
  copy.set_bufsize(0);
  copy.set_events(ASync::Copy::EventsParams{});
  EXPECT_TRUE(owner.statuses.empty()) << "before Start they only change the settings";

  // The pending bytes show the buffer size: the rest stays in the source.
  auto start_stalled = [this](std::size_t size) {
    Pipe source;
    put(source.writer, pattern(size));
    SocketPair destination;
    destination.full();
    copy.Start(source.reader, std::move(destination.near));
    return queued(source.reader);
  };
  EXPECT_EQ(start_stalled(2000), 2000u - 1024) << "a zero size left the default";
  copy.set_bufsize(16);
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Reconfigured});
  EXPECT_EQ(start_stalled(100), 84u);
  copy.set_bufsize(0);
  EXPECT_EQ(owner.statuses.size(), 2u);
  EXPECT_EQ(start_stalled(100), 84u) << "a zero size kept the previous one";

  // The copier lets go of both ends, so the destination's peer sees the end.
  Pipe source;
  SocketPair destination;
  copy.Start(std::move(source.reader), std::move(destination.near));
  copy.set_events(kNoFlush);
  EXPECT_EQ(owner.statuses,
            (CopyStatuses{CopyStatus::Reconfigured, CopyStatus::Reconfigured, CopyStatus::Reconfigured}));
  EXPECT_TRUE(at_end(destination.far));

  // The new masks serve the next copy; after its end the settings change silently again.
  Pipe empty;
  empty.writer.close();
  SocketPair full;
  full.full();
  copy.Start(std::move(empty.reader), std::move(full.near));
  EXPECT_EQ(owner.statuses.back(), CopyStatus::Completed) << "no flush mask to wait for";
  copy.set_bufsize(32);
  copy.set_events(ASync::Copy::EventsParams{});
  EXPECT_EQ(owner.statuses.size(), 4u);
}

TEST_F(AsyncCopy, StopEndsTheReadingOnly) {
  copy.Stop();
  EXPECT_TRUE(owner.statuses.empty()) << "never started";

  copy.set_events(kNoFlush);
  Pipe idle;
  SocketPair first;
  copy.Start(std::move(idle.reader), std::move(first.near));
  copy.Stop();
  EXPECT_EQ(owner.statuses, CopyStatuses{CopyStatus::Completed}) << "nothing pending: ends inside Stop";
  copy.Stop();
  EXPECT_EQ(owner.statuses.size(), 1u) << "ended";

  // Pending bytes are still written; nothing more is read.
  Pipe source;
  std::string const data = pattern(10000);
  put(source.writer, data);
  SocketPair second;
  second.small();
  copy.set_bufsize(8192);
  copy.Start(source.reader, std::move(second.near));
  copy.Stop();
  copy.Stop();
  EXPECT_EQ(owner.statuses.size(), 1u);
  EXPECT_EQ(queued(source.reader), data.size() - 8192);
  source.reader.close();
  EXPECT_EQ(write(source.writer, "x", 1), -1) << "the copier let go of the source";
  EXPECT_EQ(errno, EPIPE);
  EXPECT_TRUE(same_bytes(read_slowly(second.far), data.substr(0, 8192)));
  EXPECT_EQ(owner.statuses, (CopyStatuses{CopyStatus::Completed, CopyStatus::Completed}));

  // Waiting for the flush mask, Stop changes nothing.
  copy.set_events(ASync::Copy::EventsParams{});
  Pipe empty;
  empty.writer.close();
  SocketPair full;
  full.full();
  copy.Start(std::move(empty.reader), std::move(full.near));
  copy.Stop();
  run();
  EXPECT_EQ(owner.statuses.size(), 2u);
  take_all(full.far);
  run();
  EXPECT_EQ(owner.statuses.size(), 3u);
  EXPECT_EQ(owner.statuses.back(), CopyStatus::Completed);
}

TEST_F(AsyncCopy, HandlerMayDeleteTheCopierOrStartItAgain) {
  CopyOwner deleter;
  auto doomed = std::make_unique<ASync::Copy>();
  deleter.then = [&doomed](CopyStatus::Type) { doomed.reset(); };
  auto fresh = [&] {
    doomed = std::make_unique<ASync::Copy>();
    doomed->Bind(&CopyOwner::OnComplete, &deleter);
  };

  // From inside Start.
  fresh();
  doomed->set_events(kNoFlush);
  Pipe empty;
  empty.writer.close();
  SocketPair first;
  doomed->Start(std::move(empty.reader), std::move(first.near));
  EXPECT_EQ(doomed, nullptr);

  // From the source's event.
  fresh();
  doomed->set_events(kNoFlush);
  Pipe idle;
  SocketPair second;
  doomed->Start(std::move(idle.reader), std::move(second.near));
  idle.writer.close();
  run();
  EXPECT_EQ(doomed, nullptr);

  // From the destination's event.
  fresh();
  Pipe ended;
  ended.writer.close();
  SocketPair third;
  doomed->Start(std::move(ended.reader), std::move(third.near));
  run();
  EXPECT_EQ(doomed, nullptr);
  EXPECT_EQ(deleter.statuses.size(), 3u);

  // A new copy started from the handler runs to its own end.
  Pipe one, two;
  put(one.writer, "first ");
  one.writer.close();
  put(two.writer, "second");
  two.writer.close();
  SocketPair destination;
  owner.then = [&](CopyStatus::Type) {
    if (owner.statuses.size() == 1) copy.Start(std::move(two.reader), destination.near);
  };
  copy.set_events(kNoFlush);
  copy.Start(std::move(one.reader), destination.near);
  EXPECT_EQ(owner.statuses, (CopyStatuses{CopyStatus::Completed, CopyStatus::Completed}));
  destination.near.close();
  EXPECT_EQ(take_all(destination.far), "first second");
  EXPECT_TRUE(at_end(destination.far));
}

}  // namespace
