#pragma once
// Pieces for tests of real links on loopback: a blocking controller-side client, a
// listener that records what the service tells it, and a loop runner on simulated time.

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/dpc.h"
#include "foundation/fd.h"
#include "foundation/multiplexer.h"
#include "protocol/control_service.h"
#include "tests/support/fake_clock.h"
#include "tests/support/ports.h"
#include "tests/support/simulated_poll.h"

namespace test {

std::string frame(std::string const& body);

// The controller's side of a link: plain blocking socket calls.
class Client {
public:
  // A receive buffer given here is set before connecting, so the window starts small.
  explicit Client(int port, int receive_buffer = 0);
  bool connected() const { return m_connected; }
  void send_raw(std::string const& bytes);
  void send(std::string const& body) { send_raw(frame(body)); }
  // Reads whole frames until `count` bodies arrived or `wait_ms` of real time passed.
  std::vector<std::string> receive(std::size_t count, int wait_ms = 2000);
  // True when the server closed the link (end of file, or reset) within `wait_ms`; the
  // data still queued before the end is read and dropped.
  bool sees_close(int wait_ms = 2000);
  // Waits (real time) until the peer's kernel has taken every byte sent: loopback hands
  // data over a moment after send returns, which a loop on simulated time would miss.
  bool delivered(int wait_ms = 2000);
  int fd() const { return m_fd.lowlevel_fd(); }
  void close() { m_fd.close(); }

private:
  Fd m_fd;
  bool m_connected = false;
  std::string m_pending;
};

// Records what the service reports; echoes messages when asked to.
class Recorder : public Control::Notify {
public:
  explicit Recorder(Control::Service& service) : m_service(service) {}
  void OnConnect() override { events.push_back("connect"); }
  void OnDisconnect() override { events.push_back("disconnect"); }
  void OnMessage(char const* data, int length) override {
    std::string const body(data, static_cast<std::size_t>(length));
    events.push_back("message:" + body);
    if (on_message) on_message(body);
    if (echo) m_service.Send(data, length);
  }
  std::vector<std::string> events;
  bool echo = false;
  std::function<void(std::string const&)> on_message;

private:
  Control::Service& m_service;
};

// Runs the loop until `done` holds (checked by a deferred call on every pass) or
// `limit_ms` of simulated time passed; returns `done()`.
bool run_until(std::function<bool()> done, unsigned limit_ms = 60000);

// The same on the real clock, for peers in other processes, which take real time; the
// loop wakes at least every 5 ms to look at `done`. The default limit is a ceiling for a
// loaded machine, not a measure.
bool run_real_until(std::function<bool()> done, unsigned limit_ms = 20000);

// What the test's streams received while it lives.
class StreamCapture {
public:
  StreamCapture();
  ~StreamCapture();
  StreamCapture(StreamCapture const&) = delete;
  StreamCapture& operator=(StreamCapture const&) = delete;
  std::string out() const { return m_out.str(); }
  std::string err() const { return m_err.str(); }
  std::string log() const { return m_log.str(); }
  void clear() {
    m_out.str("");
    m_err.str("");
    m_log.str("");
  }

private:
  std::ostringstream m_out, m_err, m_log;
  std::streambuf* m_saved_out;
  std::streambuf* m_saved_err;
  std::streambuf* m_saved_log;
};

}  // namespace test
