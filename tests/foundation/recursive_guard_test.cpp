// The re-entrance guard runs its check only when the outermost guarded call ends.

#include "foundation/recursive_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Client {
  void Send(int depth) {
    std::RecursiveGuard<Client, &Client::CheckDisconnect, &Client::mRecursionLevel> const guard(this);
    log.push_back("send " + std::to_string(depth) + " at level " + std::to_string(mRecursionLevel));
    if (depth > 0) Send(depth - 1);
  }
  void CheckDisconnect() { log.push_back("check at level " + std::to_string(mRecursionLevel)); }

  int mRecursionLevel = 0;
  std::vector<std::string> log;
};

TEST(RecursiveGuard, TheCheckRunsWhenTheOutermostCallEnds) {
  Client client;
  client.Send(2);
  EXPECT_EQ(client.log, (std::vector<std::string>{"send 2 at level 1", "send 1 at level 2", "send 0 at level 3",
                                                  "check at level 0"}));
  client.Send(0);
  EXPECT_EQ(client.log.back(), "check at level 0");
  EXPECT_EQ(client.log.size(), 6u);
}

}  // namespace
