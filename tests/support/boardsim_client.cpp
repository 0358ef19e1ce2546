#include "tests/support/boardsim_client.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>

namespace test {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kAnswerTimeout = std::chrono::seconds(10);

bool is_last_line(std::string const& line) { return line == "ok" || line.starts_with("error "); }

}  // namespace

BoardSimClient::BoardSimClient(pid_t pid, std::chrono::milliseconds wait) : m_name("boardsim-" + std::to_string(pid)) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path + 1, m_name.data(), m_name.size());
  auto const length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + m_name.size());
  auto const deadline = Clock::now() + wait;
  for (;;) {
    Fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd) {
      ADD_FAILURE() << "boardsim client: socket: " << Errno();
      return;
    }
    if (::connect(fd.lowlevel_fd(), reinterpret_cast<sockaddr*>(&address), length) == 0) {
      m_fd = std::move(fd);
      return;
    }
    Errno const error;
    if (Clock::now() >= deadline) {
      ADD_FAILURE() << "the board stand-in's control socket \"" << m_name << "\" (abstract unix address) is "
                    << "not there: " << error << "; is process " << pid
                    << " a server-sim that started it, in this network namespace?";
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

std::vector<std::string> BoardSimClient::command(std::string_view line) {
  std::vector<std::string> lines;
  if (!m_fd) {
    ADD_FAILURE() << "\"" << line << "\" not sent: no connection to " << m_name;
    return lines;
  }
  std::string text(line);
  text += '\n';
  for (std::size_t sent = 0; sent < text.size();) {
    ssize_t const n = ::send(m_fd.lowlevel_fd(), text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ADD_FAILURE() << "\"" << line << "\" not sent to " << m_name << ": " << Errno();
      return lines;
    }
    sent += static_cast<std::size_t>(n);
  }
  auto const deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    for (std::size_t end; (end = m_pending.find('\n')) != std::string::npos;) {
      lines.push_back(m_pending.substr(0, end));
      m_pending.erase(0, end + 1);
      if (is_last_line(lines.back())) return lines;
    }
    auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{m_fd.lowlevel_fd(), POLLIN, 0};
    int const ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) {
      ADD_FAILURE() << "no whole answer to \"" << line << "\" from " << m_name << " within 10 s";
      return lines;
    }
    char buf[4096];
    ssize_t const got = ready < 0 ? -1 : ::recv(m_fd.lowlevel_fd(), buf, sizeof buf, 0);
    if (got <= 0) {
      ADD_FAILURE() << "the answer to \"" << line << "\" from " << m_name << " broke off: "
                    << (got == 0 ? "connection closed" : std::strerror(errno));
      return lines;
    }
    m_pending.append(buf, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> BoardSimClient::ok(std::string_view line) {
  std::vector<std::string> lines = command(line);
  if (lines.empty() || lines.back() != "ok") {
    ADD_FAILURE() << "\"" << line << "\" to " << m_name << " ended with \""
                  << (lines.empty() ? std::string() : lines.back()) << "\", not \"ok\"";
    return lines;
  }
  lines.pop_back();
  return lines;
}

std::vector<std::string> BoardSimClient::requests(std::string_view device, std::string_view request) {
  std::string line = "log";
  if (!device.empty()) line += " " + std::string(device);
  if (!request.empty()) line += " " + std::string(request);
  std::vector<std::string> lines = ok(line);
  if (!lines.empty() && lines.back().starts_with("dropped ")) lines.pop_back();
  for (std::string& entry : lines) entry.erase(0, std::min(entry.size(), entry.find(' ') + 1));
  return lines;
}

}  // namespace test
