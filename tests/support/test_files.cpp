#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <new>
#include <sstream>

#include "foundation/fd.h"

namespace test {

std::string golden_file(char const* source, std::string const& name) {
  std::filesystem::path const path = std::filesystem::path(source).parent_path() / "golden" / name;
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << "missing golden file " << path;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<Packet> take_every_packet_buffer() {
  std::vector<Packet> held;
  try {
    for (;;) {
      Packet p;
      p.reserve_head(0);
      held.push_back(p);
    }
  } catch (std::bad_alloc const&) {
  }
  return held;
}

DescriptorsTaken::DescriptorsTaken(unsigned left) {
  // The sanitizer runtime needs descriptors for its first type check of a stream call:
  // make those checks now, while descriptors are still free, and write nothing.
  {
    std::stringbuf sink;
    std::streambuf* const err = std::cerr.rdbuf(&sink);
    std::cerr << "" << std::dec << 0 << "" << Errno(0) << std::flush;
    std::cerr.rdbuf(err);
  }
  ::getrlimit(RLIMIT_NOFILE, &m_saved);
  for (int fd; (fd = ::dup(0)) >= 0;) m_taken.push_back(fd);
  rlimit lowered = m_saved;
  lowered.rlim_cur = static_cast<rlim_t>(m_taken.empty() ? 0 : m_taken.back() + 1);
  ::setrlimit(RLIMIT_NOFILE, &lowered);
  for (; left > 0 && !m_taken.empty(); --left) {
    ::close(m_taken.back());
    m_taken.pop_back();
  }
}

DescriptorsTaken::~DescriptorsTaken() {
  for (int fd : m_taken) ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &m_saved);
}

}  // namespace test
