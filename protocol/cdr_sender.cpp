#include "protocol/cdr_sender.h"

#include <iostream>
#include <sstream>
#include <sys/socket.h>

#include "foundation/inet.h"

namespace CDR_Sender {

Sender::Sender() : m_socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP)) {}

Sender::~Sender() { m_socket.close(); }

bool Sender::SendTo(std::string& record, std::string const& destinations) {
  if (!m_socket.is_valid()) return false;
  std::istringstream words(destinations);
  std::string word;
  while (words >> word) {
    INet4::Addr address;
    if (!address.Assign(word, nullptr)) {
      // A half-parsed address would send the record to 0.0.0.0 or to port 0.
      std::cerr << "cdr: bad destination " << word << std::endl;
      continue;
    }
    ::sendto(m_socket.lowlevel_fd(), record.data(), record.size(), 0, address, INet4::Addr::size());
  }
  return true;
}

}  // namespace CDR_Sender
