#pragma once
// Where the board runs beside the daemon in a thread of its own (server-sim's stand-in
// plays the hardware), that thread starts once the daemon has its final process id and
// stops before main returns. On the board itself there is nothing to start.

#include <memory>

class BoardThread {
public:
  virtual ~BoardThread() = default;
};

// Null when there is no such thread.
std::unique_ptr<BoardThread> StartBoardThread();
