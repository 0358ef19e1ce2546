#include "tests/e2e/controller.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <iterator>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "asn1/coder_env.h"

namespace e2e {

namespace {

using Clock = std::chrono::steady_clock;

int remaining_ms(Clock::time_point deadline) {
  auto const left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

ASN1::CoderEnv per_env() {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return env;
}

}  // namespace

std::string Controller::connect(int port) {
  close();
  int const s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (s < 0) return std::string("socket: ") + std::strerror(errno);
  m_fd = Fd(s);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    std::string const why = std::string("connect: ") + std::strerror(errno);
    m_fd.close();
    return why;
  }
  int const one = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  m_closed = false;
  m_buffer.clear();
  m_inbox.clear();
  return {};
}

void Controller::close() {
  if (m_fd.is_valid()) m_fd.close();
}

void Controller::send(LGCP::Message const& message) {
  ASN1::CoderEnv env = per_env();
  std::vector<char> body;
  if (!ASN1::encode(message, &env, std::back_inserter(body))) throw std::runtime_error("cannot encode " + to_text(message));
  send_body(std::string(body.begin(), body.end()));
}

void Controller::send_body(std::string const& body) {
  std::string frame = {'\x03', '\x00', static_cast<char>((body.size() + 4) >> 8), static_cast<char>((body.size() + 4) & 0xFF)};
  frame += body;
  m_sent.push_back(body);
  for (std::size_t done = 0; done < frame.size();) {
    ssize_t const n = ::send(m_fd.lowlevel_fd(), frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("send to the daemon: ") + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

bool Controller::read_some(int wait_ms) {
  if (m_closed || !m_fd.is_valid()) return false;
  pollfd p{m_fd.lowlevel_fd(), POLLIN, 0};
  int const ready = ::poll(&p, 1, wait_ms);
  if (ready <= 0) return true;
  char buf[65536];
  ssize_t const n = ::recv(m_fd.lowlevel_fd(), buf, sizeof buf, MSG_DONTWAIT);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return true;
  if (n <= 0) {
    m_closed = true;
    return false;
  }
  m_buffer.append(buf, static_cast<std::size_t>(n));
  take_frames();
  return true;
}

void Controller::take_frames() {
  while (m_buffer.size() >= 4) {
    if (m_buffer[0] != '\x03' || m_buffer[1] != '\x00') throw std::runtime_error("the daemon sent a non-TPKT frame");
    std::size_t const length = (static_cast<unsigned char>(m_buffer[2]) << 8) | static_cast<unsigned char>(m_buffer[3]);
    if (length < 4) throw std::runtime_error("the daemon sent a TPKT length below 4");
    if (m_buffer.size() < length) break;
    std::string const body = m_buffer.substr(4, length - 4);
    m_buffer.erase(0, length);
    m_received.push_back(body);
    ASN1::CoderEnv env = per_env();
    LGCP::Message message;
    if (ASN1::decode(body.data(), body.data() + body.size(), &env, message, true)) {
      if (!is_trunk_status(message)) ++m_asked_for;
      m_inbox.push_back(std::move(message));
    } else {
      ++m_asked_for;
      m_undecodable.push_back(body);
    }
  }
}

std::optional<LGCP::Message> Controller::response(int seq, int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    for (auto at = m_inbox.begin(); at != m_inbox.end(); ++at) {
      if (!at->get_pdu().response_isSelected()) continue;
      if (seq >= 0 ? !at->seq_isPresent() || at->get_seq().getValue() != seq : at->seq_isPresent()) continue;
      LGCP::Message found = std::move(*at);
      m_inbox.erase(at);
      return found;
    }
    if (m_closed || Clock::now() >= deadline) return std::nullopt;
    read_some(remaining_ms(deadline));
  }
}

std::optional<LGCP::Message> Controller::signal(std::function<bool(LGCP::Message const&)> const& match, int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  for (;;) {
    for (auto at = m_inbox.begin(); at != m_inbox.end(); ++at) {
      if (!at->get_pdu().signal_isSelected() || !match(*at)) continue;
      LGCP::Message found = std::move(*at);
      m_inbox.erase(at);
      return found;
    }
    if (m_closed || Clock::now() >= deadline) return std::nullopt;
    read_some(remaining_ms(deadline));
  }
}

bool Controller::quiet(int wait_ms) {
  std::size_t const before = m_asked_for;
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  while (Clock::now() < deadline && read_some(remaining_ms(deadline))) {
  }
  return m_asked_for == before;
}

bool Controller::sees_close(int wait_ms) {
  auto const deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
  while (!m_closed && Clock::now() < deadline) read_some(remaining_ms(deadline));
  return m_closed;
}

LGCP::Message ping(int seq) {
  return command(seq, -1, [](LGCP::Command& c) { c.select_ping(); });
}

LGCP::Message query(int seq) {
  return command(seq, -1, [](LGCP::Command& c) { c.select_query(); });
}

LGCP::Message create_trunk(int seq, int slot, unsigned trunk, unsigned timeslot) {
  return command(seq, slot, [&](LGCP::Command& c) {
    LGCP::TrunkParams& t = c.select_create().select_trunk();
    t.set_trunk(trunk);
    t.set_timeslot(timeslot);
  });
}

LGCP::Message connect_to(int seq, int slot, unsigned target) {
  return command(seq, slot, [&](LGCP::Command& c) { c.select_connect(target); });
}

LGCP::Message disconnect(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_disconnect(); });
}

LGCP::Message destroy(int seq, int slot) {
  return command(seq, slot, [](LGCP::Command& c) { c.select_destroy(); });
}

std::function<bool(LGCP::Message const&)> signal_of(int alternative, int slot) {
  return [=](LGCP::Message const& m) {
    if (m.get_pdu().get_signal().currentSelection() != alternative) return false;
    if (slot < 0) return true;
    return m.slot_isPresent() && static_cast<int>(m.get_slot().getValue()) == slot;
  };
}

bool is_trunk_status(LGCP::Message const& m) {
  return m.get_pdu().signal_isSelected() && m.get_pdu().get_signal().currentSelection() == LGCP::Signal::trunkStatus::id;
}

std::string to_text(LGCP::Message const& m) {
  std::ostringstream text;
  text << m;
  return text.str();
}

}  // namespace e2e
