#include "protocol/local_socket.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace Control {

sockaddr_un LocalAddress(std::string const& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::size_t const length = std::min(path.size(), sizeof address.sun_path - 1);
  std::memcpy(address.sun_path, path.data(), length);
  return address;
}

void RemoveStaleSocket(sockaddr_un const& address) {
  struct stat info;
  if (::lstat(address.sun_path, &info) == 0 && S_ISSOCK(info.st_mode)) ::unlink(address.sun_path);
}

std::string PeerPath(sockaddr_un const& address, socklen_t length) {
  std::size_t const start = offsetof(sockaddr_un, sun_path);
  std::size_t const end = std::min<std::size_t>(length, sizeof address);
  if (end <= start) return {};
  char const* const path = address.sun_path;
  return std::string(path, ::strnlen(path, end - start));
}

}  // namespace Control
