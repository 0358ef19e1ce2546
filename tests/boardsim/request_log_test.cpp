#include "boardsim/request_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

namespace BoardSim {
namespace {

Request at(unsigned ms, std::string device = "/dev/a", std::string name = "write") {
  return {std::move(device), std::move(name), "", 0, ms};
}

TEST(RequestLog, KeepsTheMostRecentAndCountsTheDropped) {
  RequestLog log(3);
  for (unsigned ms = 1; ms <= 5; ++ms) log.add(at(ms));
  EXPECT_EQ(log.entries(), (std::vector<Request>{at(3), at(4), at(5)}));
  EXPECT_EQ(log.dropped(), 2u);

  log.clear();
  EXPECT_TRUE(log.entries().empty());
  EXPECT_EQ(log.dropped(), 0u);
  log.add(at(6));
  EXPECT_EQ(log.entries(), (std::vector<Request>{at(6)}));
}

TEST(RequestLog, FiltersByDeviceAndName) {
  RequestLog log(10);
  log.add(at(1, "/dev/a", "open"));
  log.add(at(2, "/dev/b", "open"));
  log.add(at(3, "/dev/a", "write"));
  log.add(at(4, "/dev/b", "write"));

  EXPECT_EQ(log.entries("/dev/a"), (std::vector<Request>{at(1, "/dev/a", "open"), at(3, "/dev/a", "write")}));
  EXPECT_EQ(log.entries({}, "write"),
            (std::vector<Request>{at(3, "/dev/a", "write"), at(4, "/dev/b", "write")}));
  EXPECT_EQ(log.entries("/dev/b", "open"), (std::vector<Request>{at(2, "/dev/b", "open")}));
  EXPECT_TRUE(log.entries("/dev/c").empty());
  EXPECT_EQ(log.entries().size(), 4u);
}

TEST(RequestLog, PrintsDecodedRequests) {
  std::ostringstream text;
  text << Request{"/dev/misc/gw-wd", "write", "data=" + c_literal(std::string("P\"\\\0\n\xff", 6)), EINVAL,
                  42};
  EXPECT_EQ(text.str(), R"(42 /dev/misc/gw-wd write data="P\"\\\x00\x0a\xff" -> EINVAL)");

  text.str("");
  text << Request{"/dev/a", "close", "", 0, 7};
  EXPECT_EQ(text.str(), "7 /dev/a close");
}

TEST(ErrnoValue, ReadsNamesAndNumbersOfErrors) {
  EXPECT_EQ(errno_value("EINVAL"), EINVAL);
  EXPECT_EQ(errno_value("ENOTTY"), ENOTTY);
  EXPECT_EQ(errno_value("5"), EIO);
  EXPECT_EQ(errno_value(errno_name(EHWPOISON)), EHWPOISON);
  for (std::string_view const none : {"", "einval", "EINVAL ", "0", "-5", "4096", "99999", "5x", "E"}) {
    EXPECT_EQ(errno_value(none), 0) << none;
  }
}

}  // namespace
}  // namespace BoardSim
