#include "tests/server/controller_end.h"

#include <gtest/gtest.h>
#include <iterator>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "asn1/coder_env.h"
#include "foundation/inet.h"
#include "tests/protocol/link_harness.h"

namespace test_server {

bool PairLink::ImplActivate() {
  INet4::Addr peer;
  peer.Assign("127.0.0.1:1", nullptr);
  Connected(m_end, peer);
  m_end.close();
  return true;
}

ControllerEnd::ControllerEnd() {
  int fds[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, fds), 0);
  m_fd = Fd(fds[0]);
  m_server_end = Fd(fds[1]);
}

PairLink* ControllerEnd::link() { return new PairLink(std::move(m_server_end)); }

void ControllerEnd::send(LGCP::Message const& message) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> body;
  ASSERT_TRUE(ASN1::encode(message, &env, std::back_inserter(body)));
  send_raw(body);
}

void ControllerEnd::send_raw(std::vector<char> const& body) {
  std::string const frame = test::frame(std::string(body.begin(), body.end()));
  ASSERT_EQ(::write(m_fd.lowlevel_fd(), frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
}

std::vector<LGCP::Message> ControllerEnd::take() {
  char buf[65536];
  for (ssize_t n; (n = ::read(m_fd.lowlevel_fd(), buf, sizeof buf)) > 0;) m_buffer.append(buf, static_cast<std::size_t>(n));
  std::vector<LGCP::Message> out;
  while (m_buffer.size() >= 4) {
    std::size_t const length = (static_cast<unsigned char>(m_buffer[2]) << 8) | static_cast<unsigned char>(m_buffer[3]);
    if (m_buffer.size() < length) break;
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    m_bodies.push_back(m_buffer.substr(4, length - 4));
    out.emplace_back();
    EXPECT_TRUE(ASN1::decode(m_buffer.data() + 4, m_buffer.data() + length, &env, out.back(), true));
    m_buffer.erase(0, length);
  }
  return out;
}

std::vector<LGCP::Message> ControllerEnd::pending() { return take(); }

std::vector<LGCP::Message> ControllerEnd::receive(std::size_t count) {
  std::vector<LGCP::Message> got;
  test::run_until(
      [&] {
        for (auto& m : take()) got.push_back(std::move(m));
        return got.size() >= count;
      },
      1000);
  return got;
}

std::vector<LGCP::Message> ControllerEnd::exchange(LGCP::Message const& message, std::size_t expected) {
  send(message);
  std::vector<LGCP::Message> got = receive(expected);
  for (auto& more : pending()) got.push_back(std::move(more));
  return got;
}

}  // namespace test_server
