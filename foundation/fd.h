#pragma once
// Owned file descriptors, captured error numbers and descriptor mode switches.

#include <ostream>

// Owns exactly one descriptor: copies duplicate it, destruction closes it. Every
// descriptor taken over or created gets close-on-exec.
class Fd {
public:
  struct BoolResult;

  Fd() = default;
  explicit Fd(int fd);
  Fd(Fd const& other);
  Fd(Fd&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
  Fd& operator=(Fd const& other);
  Fd& operator=(Fd&& other) noexcept;
  ~Fd();

  int dup() const;
  bool open(char const* path, int flags);
  int close();
  bool NonBlock();

  int lowlevel_fd() const { return m_fd; }
  bool is_valid() const { return m_fd >= 0; }
  operator BoolResult*() const { return is_valid() ? reinterpret_cast<BoolResult*>(1) : nullptr; }

private:
  int m_fd = -1;
};

int read(Fd& fd, void* buf, unsigned int len);
int write(Fd& fd, void const* buf, unsigned int len);
int close(Fd& fd);

bool NonBlockMode(int fd);
bool BlockMode(int fd);
bool SetCloexec(int fd, bool on);

// errno captured at construction; prints as the system's error text.
class Errno {
public:
  Errno();
  explicit Errno(int value) : m_value(value) {}
  int value() const { return m_value; }
  void Put(std::ostream& os) const;

private:
  int m_value;
};

std::ostream& operator<<(std::ostream& os, Errno const& e);
