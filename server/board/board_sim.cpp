// server-sim: the stand-in's thread and its control socket "boardsim-<pid>".
#include "boardsim/daemon_board.h"
#include "boardsim/server.h"
#include "server/board/board_thread.h"

namespace {

class SimThread : public BoardThread {
public:
  explicit SimThread(std::unique_ptr<BoardSim::Server> server) : m_server(std::move(server)) {}
  ~SimThread() override { m_server->stop(); }

private:
  std::unique_ptr<BoardSim::Server> m_server;
};

}  // namespace

std::unique_ptr<BoardThread> StartBoardThread() {
  std::unique_ptr<BoardSim::Server> server = BoardSim::start_for_daemon();
  if (!server) return nullptr;
  return std::make_unique<SimThread>(std::move(server));
}
