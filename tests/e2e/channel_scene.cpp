#include "tests/e2e/channel_scene.h"

#include <chrono>
#include <csignal>

#include "tests/support/install_program.h"

namespace e2e {

bool ChannelScene::command(LGCP::Message const& m) {
  c.send(m);
  auto const r = c.response(m.get_seq().getValue());
  return r && is_success(*r);
}

void ChannelScene::equal_log(std::string const& device, std::string const& request,
                             std::vector<std::string> const& expected, std::string const& what) {
  std::string got, wanted;
  for (std::string const& line : board.requests(device, request)) got += line + "; ";
  for (std::string const& line : expected) wanted += line + "; ";
  f.equal(got, wanted, what);
}

std::string in_channel_scene(std::function<void(ChannelScene&)> const& body, DaemonOptions const& options) {
  return in_scene([&]() -> std::string {
    if (std::string const failed = test::install_program(T38_PROGRAM, "/usr/local/sbin/t38"); !failed.empty())
      return failed;
    Daemon daemon(options);
    if (std::string const failed = daemon.start(); !failed.empty()) return failed;
    Controller c;
    if (std::string const failed = c.connect(kPort); !failed.empty()) return failed;
    test::BoardSimClient board(daemon.pid(), std::chrono::milliseconds(5000));
    test::Failures f;
    ChannelScene scene{daemon, c, board, f};
    body(scene);
    f.check(c.undecodable().empty(), "every body the daemon sent decodes");
    c.close();
    f.equal(daemon.stop(SIGTERM), "", "SIGTERM ends the daemon cleanly");
    return f.result();
  });
}

}  // namespace e2e
