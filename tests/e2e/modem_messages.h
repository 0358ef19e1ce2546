#pragma once
// What the modem tests read from the daemon, as text, and the independent check of every
// body of their runs by Erlang's codec.

#include <string>
#include <vector>

#include "schemas/lgcp.h"
#include "tests/e2e/controller.h"

namespace e2e {

// "success", "error 9", "transmitter 4096", "receiver inactive", "abort 256",
// "auth <user>/<password>", "acct 4,0 0,0 0,0 0,0 0,0" (low,high of each counter), or
// the signal's number.
std::string modem_text(LGCP::Message const& m);

// Lines as one text, each ended by a line break, for comparisons that show what differs.
std::string joined(std::vector<std::string> const& lines);

// A controller's commands and the messages that came back, as modem_text.
class ModemTalk {
public:
  explicit ModemTalk(Controller& c) : m_c(&c) {}

  int seq() { return ++m_seq; }
  // Sends and waits for the answer: its text, or "none".
  std::string ask(LGCP::Message const& m, int wait_ms = 5000);
  // The texts of the n messages from the daemon that end with the last answer, in their
  // order, one a line.
  std::string before_answer(std::size_t n);
  // The next signal of that kind for the slot, as text; "none" within wait_ms.
  std::string next_signal(int alternative, int slot, int wait_ms = 5000);

protected:
  Controller* m_c;

private:
  int m_seq = 0;
  int m_asked = 0;  // the seq of the last command asked
};

// Every body each controller sent and received, decoded here and by Erlang, which must
// read the same value; "" or what differs.
std::string erlang_reads_every_body(std::vector<Controller const*> const& controllers);

}  // namespace e2e
