// Connects to real listeners on loopback and copies between real pipes and socket pairs,
// driven by the loop.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "foundation/async.h"
#include "foundation/clock.h"
#include "foundation/multiplexer.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"

namespace {

using ConnectStatus = ASync::Connect::Status;

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

using Statuses = std::vector<ConnectStatus::Type>;

TEST(AsyncConnect, ConnectsToAListenerAndHandsOverTheSocket) {
  Listener listener(4);
  int const before = open_descriptors();
  ConnectOwner owner;
  {
    ASync::Connect connect;
    connect.Bind(&ConnectOwner::OnConnect, &owner);
    connect.Start(listener.address(), 5000);
    run_real();
    ASSERT_EQ(owner.statuses, Statuses{ConnectStatus::Connected});
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
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Failed});
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
  {
    test::StopAfter guard(10000);
    multiplexer.run(false, true);
  }
  ASSERT_EQ(owner.statuses, Statuses{ConnectStatus::Failed});
  EXPECT_EQ(owner.at[0] - start, 3000u);
  EXPECT_FALSE(owner.socket);
  EXPECT_EQ(connect, nullptr) << "the handler deleted the connector from inside the time-out";
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
  for (char const* text : {"gateway.example:20001", "127.0.0.1:65536", "127.0.0.1:", "", "127.0.0:x"}) {
    owner.statuses.clear();
    connect.Start(text, 5000);
    EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Failed}) << text;
    EXPECT_FALSE(owner.socket) << text;
  }
  EXPECT_TRUE(connect.targets.empty());

  owner.statuses.clear();
  connect.result = 0;
  connect.Start("127.0.0.1:20001", 5000);
  EXPECT_EQ(connect.targets, std::vector<std::string>{"127.0.0.1:20001"});
  ASSERT_EQ(owner.statuses, Statuses{ConnectStatus::Connected});
  int type = 0;
  socklen_t length = sizeof type;
  ASSERT_EQ(::getsockopt(owner.socket.lowlevel_fd(), SOL_SOCKET, SO_TYPE, &type, &length), 0);
  EXPECT_EQ(type, SOCK_STREAM);

  owner.statuses.clear();
  connect.result = -1;
  connect.error = ENETUNREACH;
  connect.Start("127.0.0.1:20001", 5000);
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Failed});
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
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Failed});

  // Error bits win over POLLOUT, even on a socket without a pending error.
  owner.statuses.clear();
  connect.Start(listener.address(), 5000);
  connect.OnSocketEvent(-1, POLLOUT | POLLHUP);
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Failed});
  EXPECT_FALSE(owner.socket);

  owner.statuses.clear();
  connect.Start(listener.address(), 5000);
  connect.OnSocketEvent(-1, POLLOUT);
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Connected});
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
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Stopped});
  EXPECT_FALSE(owner.socket);
  EXPECT_EQ(multiplexer.pending_timers(), 0u) << "the time-out is cancelled";
  run_real(20);
  connect.Stop();
  EXPECT_EQ(owner.statuses, Statuses{ConnectStatus::Stopped}) << "nothing after the outcome";
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
  EXPECT_EQ(owner.statuses, (Statuses{ConnectStatus::Failed, ConnectStatus::Connected}));
  EXPECT_TRUE(owner.socket);
  EXPECT_EQ(connect, nullptr);
}

}  // namespace
