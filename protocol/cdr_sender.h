#pragma once
// Sends one text record at a time as a UDP datagram to each destination of a list
// ("a.b.c.d:port" words separated by white space). No queue, no retry, no acknowledgement.

#include <string>

#include "foundation/fd.h"

namespace CDR_Sender {

class Sender {
public:
  Sender();
  Sender(Sender const&) = delete;
  Sender& operator=(Sender const&) = delete;
  virtual ~Sender();

  // False only when the sender has no socket. A destination word that is no dotted IPv4
  // address is skipped with a line on the error stream.
  bool SendTo(std::string& record, std::string const& destinations);

private:
  Fd m_socket;
};

}  // namespace CDR_Sender
