#include "foundation/fd.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

bool cloexec(int fd) { return ::fcntl(fd, F_GETFD) & FD_CLOEXEC; }

bool open_descriptor(int fd) { return ::fcntl(fd, F_GETFD) >= 0; }

Fd pipe_reader(Fd& writer) {
  int p[2];
  EXPECT_EQ(::pipe(p), 0);
  writer = Fd(p[1]);
  return Fd(p[0]);
}

TEST(Fd, CopiesHoldTheirOwnDescriptor) {
  Fd writer;
  Fd const reader = pipe_reader(writer);
  EXPECT_TRUE(cloexec(reader.lowlevel_fd()));
  Fd copy(writer);
  ASSERT_TRUE(copy);
  EXPECT_NE(copy.lowlevel_fd(), writer.lowlevel_fd());
  EXPECT_TRUE(cloexec(copy.lowlevel_fd()));

  int const original = writer.lowlevel_fd();
  EXPECT_EQ(writer.close(), 0);
  EXPECT_FALSE(writer);
  EXPECT_FALSE(open_descriptor(original));
  char c = 'x';
  EXPECT_EQ(write(copy, &c, 1), 1);
  Fd in(reader);
  EXPECT_EQ(read(in, &c, 1), 1);
}

TEST(Fd, InvalidCopiesStayInvalid) {
  Fd const invalid;
  Fd copy(invalid);
  EXPECT_FALSE(copy);
  EXPECT_EQ(copy.lowlevel_fd(), -1);
  EXPECT_EQ(invalid.dup(), -1);
  Fd writer;
  Fd reader = pipe_reader(writer);
  int const old = reader.lowlevel_fd();
  reader = invalid;
  EXPECT_FALSE(reader);
  EXPECT_FALSE(open_descriptor(old));
}

TEST(Fd, SelfAssignmentKeepsTheDescriptor) {
  Fd writer;
  Fd reader = pipe_reader(writer);
  int const fd = reader.lowlevel_fd();
  Fd& same = reader;
  reader = same;
  EXPECT_EQ(reader.lowlevel_fd(), fd);
  EXPECT_TRUE(open_descriptor(fd));
}

TEST(Fd, SecondCloseIsEbadf) {
  Fd writer;
  Fd reader = pipe_reader(writer);
  EXPECT_EQ(close(reader), 0);
  errno = 0;
  EXPECT_EQ(reader.close(), -1);
  EXPECT_EQ(errno, EBADF);
  EXPECT_FALSE(reader.NonBlock());
}

TEST(Fd, ModeSwitches) {
  Fd writer;
  Fd reader = pipe_reader(writer);
  ASSERT_TRUE(reader.NonBlock());
  EXPECT_TRUE(::fcntl(reader.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  char c;
  errno = 0;
  EXPECT_EQ(read(reader, &c, 1), -1);
  EXPECT_EQ(errno, EAGAIN);
  ASSERT_TRUE(BlockMode(reader.lowlevel_fd()));
  EXPECT_FALSE(::fcntl(reader.lowlevel_fd(), F_GETFL) & O_NONBLOCK);
  EXPECT_FALSE(NonBlockMode(-1));
  SetCloexec(reader.lowlevel_fd(), false);
  EXPECT_FALSE(cloexec(reader.lowlevel_fd()));
}

TEST(Errno, PrintsTheTextOnly) {
  errno = ENOENT;
  Errno const e;
  EXPECT_EQ(e.value(), ENOENT);
  std::ostringstream os;
  os << "can't open: " << e;
  EXPECT_EQ(os.str(), "can't open: No such file or directory");
}

}  // namespace
