#pragma once
// Independent tools as child processes of a test (socat, xmllint): started with their
// standard streams on files, killed and reaped when the object goes. A tool that is not
// installed is a failure that says so, never a skipped test.

#include <string>
#include <sys/types.h>
#include <vector>

namespace test {

// Fails the current test (fatally, from a void function) when `tool` is not on PATH.
void require_tool(std::string const& tool, std::string const& package);

class ChildProcess {
public:
  // Standard input from `in` (default /dev/null), output and error into files.
  ChildProcess(std::vector<std::string> const& argv, std::string const& out, std::string const& err,
               std::string const& in = "/dev/null");
  ~ChildProcess();
  ChildProcess(ChildProcess const&) = delete;
  ChildProcess& operator=(ChildProcess const&) = delete;

  pid_t pid() const { return m_pid; }
  // True once the child has ended; its wait status in *status.
  bool ended(int* status = nullptr);
  // Waits up to `ms` of real time; false when it is still running then.
  bool wait(int ms, int* status = nullptr);

private:
  pid_t m_pid = -1;
  int m_status = 0;
};

std::string read_file(std::string const& path);
// A tool's output cut at each `separator` ("a\tb\t" gives "a", "b", ""); none for "".
std::vector<std::string> split(std::string const& text, char separator);
std::string describe_status(int status);

// Waits up to `ms` of real time for a listening socket file at `path`.
bool wait_for_socket_file(std::string const& path, int ms = 5000);
// Waits up to `ms` of real time for a TCP listener on 127.0.0.1:port.
bool wait_for_tcp_port(int port, int ms = 5000);

// A fresh directory under the temporary folder, removed with what it holds.
class TempDir {
public:
  explicit TempDir(std::string const& prefix = "gw-test");
  ~TempDir();
  TempDir(TempDir const&) = delete;
  TempDir& operator=(TempDir const&) = delete;
  std::string const& path() const { return m_path; }
  std::string operator/(std::string const& name) const { return m_path + "/" + name; }

private:
  std::string m_path;
};

}  // namespace test
