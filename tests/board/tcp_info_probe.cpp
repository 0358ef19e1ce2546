// Connects a TCP socket to itself through a loopback listener and prints what
// getsockopt(TCP_INFO) answers on it: its length and its first four bytes, the kernel's
// state, congestion state, retransmits and probes.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

int main() {
  int const listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
      ::listen(listener, 1) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    std::perror("tcp_info_probe: listener");
    return 1;
  }
  int const client = ::socket(AF_INET, SOCK_STREAM, 0);
  if (client < 0 || ::connect(client, reinterpret_cast<sockaddr*>(&address), size) != 0) {
    std::perror("tcp_info_probe: connect");
    return 1;
  }
  unsigned char info[sizeof(tcp_info)] = {};
  socklen_t length = sizeof info;
  if (::getsockopt(client, IPPROTO_TCP, TCP_INFO, info, &length) != 0) {
    std::perror("tcp_info_probe: getsockopt");
    return 1;
  }
  std::printf("length=%u head=%02x %02x %02x %02x\n", static_cast<unsigned>(length), info[0], info[1], info[2],
              info[3]);
  return 0;
}
