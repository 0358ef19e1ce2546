// Descriptor events on real pipes and sockets.

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <iostream>

#include "foundation/event.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/test_files.h"

namespace {

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

struct Owner {
  void on(int fd, short revents) {
    ++calls;
    last_fd = fd;
    last_revents = revents;
    if (revents & POLLIN) {
      char buf[16];
      got += static_cast<int>(::read(fd, buf, sizeof buf));
    }
    if (stop) multiplexer.terminate();
  }
  int calls = 0;
  int last_fd = -1;
  short last_revents = -1;
  int got = 0;
  bool stop = true;
};

struct DerivedOwner : Owner {};

struct SocketPair {
  SocketPair() {
    int fds[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    a = Fd(fds[0]);
    b = Fd(fds[1]);
  }
  Fd a, b;
};

TEST(Event, FreshEventIsUnnamedUnboundAndDetached) {
  Event e;
  EXPECT_EQ(e.event_name(), "Unknown");
  EXPECT_TRUE(e.is_named());
  EXPECT_FALSE(e.is_bound());
  EXPECT_FALSE(e.IsActive());
  EXPECT_EQ(e.lowlevel_fd(), -1);
  errno = 0;
  EXPECT_EQ(e.Release(), -1);
  EXPECT_EQ(errno, EBADF);
  e.svc_event(POLLIN);  // no handler: nothing
}

TEST(Event, ScheduleKeepsItsOwnDuplicateAndReplacesTheOldOne) {
  SocketPair one, two;
  Owner owner;
  {
    Event e;
    e.Bind("Owner::on", &Owner::on, &owner);
    e.Schedule(one.a, POLLIN);
    int const first = e.lowlevel_fd();
    EXPECT_NE(first, one.a.lowlevel_fd());
    EXPECT_TRUE(is_open(first));
    EXPECT_NE(::fcntl(first, F_GETFD) & FD_CLOEXEC, 0);

    e.Schedule(two.a, POLLIN | POLLOUT);
    EXPECT_FALSE(is_open(first) && first != e.lowlevel_fd()) << "the first duplicate is closed";
    EXPECT_EQ(e.events(), POLLIN | POLLOUT);

    e.Schedule(Fd(), POLLIN);  // invalid: detached, duplicate closed
    EXPECT_FALSE(e.IsActive());
    e.Schedule(two.a, POLLIN);
    EXPECT_TRUE(e.IsActive());
  }
  // The caller's descriptors outlive the Event.
  EXPECT_TRUE(is_open(one.a.lowlevel_fd()));
  EXPECT_TRUE(is_open(two.a.lowlevel_fd()));
}

TEST(Event, DispatchesThroughTheLoopWithItsOwnDescriptor) {
  test::FakeClock clock;
  test::SimulatedPoll poll(clock);
  SocketPair pair;
  Owner owner;
  Event e;
  e.Bind("Owner::on", &Owner::on, &owner);
  e.Schedule(pair.a, POLLIN);
  ASSERT_EQ(::write(pair.b.lowlevel_fd(), "hello", 5), 5);
  multiplexer.run(false, true);
  EXPECT_EQ(owner.calls, 1);
  EXPECT_EQ(owner.last_fd, e.lowlevel_fd());
  EXPECT_EQ(owner.last_revents, POLLIN);
  EXPECT_EQ(owner.got, 5);
  EXPECT_EQ(e.counter(), 1u);

  // A peer that goes away is reported as a hang-up even with only POLLIN requested.
  pair.b.close();
  multiplexer.run(false, true);
  EXPECT_NE(owner.last_revents & POLLHUP, 0);
}

TEST(Event, ZeroEventsStillCallTheHandlerWithoutCounting) {
  Owner owner;
  Event e;
  e.Bind("Owner::on", &Owner::on, &owner);
  e.SetEvents(POLLIN);
  e.svc_event(0);
  EXPECT_EQ(owner.calls, 1);
  EXPECT_EQ(e.counter(), 0u);
  e.svc_event(POLLOUT);  // not requested: called, not counted
  EXPECT_EQ(e.counter(), 0u);
  e.svc_event(POLLIN | POLLHUP);
  EXPECT_EQ(e.counter(), 1u);
}

struct CountedHandler : Event::Handler {
  explicit CountedHandler(int& d) : deleted(d) {}
  ~CountedHandler() override { ++deleted; }
  void Invoke(int, short) override {}
  int& deleted;
};

TEST(Event, BindReplacesHandlerAndName) {
  int deleted = 0;
  Owner owner;
  {
    Event e;
    e.Bind(new CountedHandler(deleted));
    e.Bind("Owner::on", &Owner::on, &owner);
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(e.event_name(), "Owner::on");
    e.Bind("Other", &Owner::on, &owner);
    EXPECT_EQ(e.event_name(), "Other");
    e.Bind(new CountedHandler(deleted));
  }
  EXPECT_EQ(deleted, 2);

  Event::THandler<Owner> null_action(nullptr, &owner);
  null_action.Invoke(3, POLLIN);
  EXPECT_EQ(owner.calls, 0);
}

TEST(Event, MemberOfABaseIsBoundForTheDerivedObject) {
  DerivedOwner owner;
  Event e;
  e.Bind("Owner::on", &Owner::on, &owner);
  e.svc_event(0);
  EXPECT_EQ(owner.calls, 1);
}

// Schedules with no free descriptor number, then gives the descriptors back (the
// sanitizers' exit checks need some).
int schedule_without_free_descriptors() {
  SocketPair pair;
  Event e;
  e.Bind("Owner::on", &Owner::on, static_cast<Owner*>(nullptr));
  test::DescriptorsTaken const none;
  e.Schedule(pair.a, POLLIN);
  return e.IsActive() ? 1 : 0;
}

TEST(EventDeathTest, FailedDuplicateIsReported) {
  EXPECT_EXIT(std::exit(schedule_without_free_descriptors()), ::testing::ExitedWithCode(0),
              "Event \"Owner::on\": can't duplicate descriptor [0-9]+: Too many open files");
}

}  // namespace
