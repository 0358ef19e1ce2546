#pragma once
// Each test gets a fresh stand-in behind Board::io() and simulated time, so requests go
// through the seam exactly as the daemon's do.

#include <gtest/gtest.h>

#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <string_view>

#include "boardsim/diag.h"
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

// The stand-in's own lines (boardsim/diag.h) while it lives, from any thread.
class DiagCapture : private BoardSim::DiagSink {
public:
  DiagCapture() : m_previous(BoardSim::set_diag_sink(this)) {}
  ~DiagCapture() override { BoardSim::set_diag_sink(m_previous); }
  DiagCapture(DiagCapture const&) = delete;
  DiagCapture& operator=(DiagCapture const&) = delete;
  std::string text() const {
    std::lock_guard const held(m_mutex);
    return m_text;
  }

private:
  void line(std::string_view text) override {
    std::lock_guard const held(m_mutex);
    m_text.append(text);
    m_text += '\n';
  }

  mutable std::mutex m_mutex;
  std::string m_text;
  BoardSim::DiagSink* m_previous;
};

// What the daemon's code prints on std::cerr while it lives.
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
