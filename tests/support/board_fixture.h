#pragma once
// Each test gets a fresh stand-in behind Board::io() and simulated time, so requests go
// through the seam exactly as the daemon's do.

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "boardsim/sim.h"
#include "foundation/board_io.h"
#include "tests/support/fake_clock.h"

namespace test {

class BoardTest : public ::testing::Test {
protected:
  BoardTest() : m_previous(Board::install(&sim)) {}
  ~BoardTest() override { Board::install(m_previous); }

  FakeClock clock;
  BoardSim::Sim sim;

private:
  Board::Io* m_previous;
};

// What the stand-in prints on std::cerr while it lives.
class CerrCapture {
public:
  CerrCapture() : m_previous(std::cerr.rdbuf(m_text.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(m_previous); }
  CerrCapture(CerrCapture const&) = delete;
  CerrCapture& operator=(CerrCapture const&) = delete;
  std::string text() const { return m_text.str(); }

private:
  std::ostringstream m_text;
  std::streambuf* m_previous;
};

}  // namespace test
