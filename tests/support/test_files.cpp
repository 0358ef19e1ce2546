#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

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

}  // namespace test
