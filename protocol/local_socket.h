#pragma once
// Local stream-socket addresses shared by the local-socket acceptor and connector.

#include <string>
#include <sys/socket.h>
#include <sys/un.h>

namespace Control {

// The address of a path, cut to 107 characters and always terminated, so that an
// acceptor and a connector given the same long path meet at the same cut path.
sockaddr_un LocalAddress(std::string const& path);

// Removes a socket left at the address's path by an earlier run. Anything else found
// there (a regular file, a link) is left alone, and the bind then fails on it.
void RemoveStaleSocket(sockaddr_un const& address);

// The path of an address as accept returned it, read only within `length` (which the
// kernel may report larger than the record); empty for an unnamed socket.
std::string PeerPath(sockaddr_un const& address, socklen_t length);

}  // namespace Control
