#pragma once
// Records of the PPP authentication link between the modem factory and the local
// authentication agent: 32-bit unsigned words in the host's byte order (the agent runs
// on the same host), each record starting with this header. Read from a received buffer
// by copying, never by casting: the buffer need not be aligned for them.

#include <cstdint>

// Every record's header.
struct attr {
  std::uint32_t length;   // the whole record in bytes, header included: 4..512
  std::uint32_t type;
  std::uint32_t session;  // the modem number of the slot concerned
};
static_assert(sizeof(attr) == 12);

enum AuthType : std::uint32_t { kAuthRequest = 1, kAuthAccept = 2, kAuthIp = 3, kAuthAccounting = 4 };

// Agent to gateway: a user to authenticate. Each text ends at its first zero byte, or at
// the end of its field.
struct voauth {
  attr header;
  char username[64];
  char password[64];
};
static_assert(sizeof(voauth) == 140);

// Agent to gateway: the traffic of a finished connection. Each counter is {high, low}.
struct voacct {
  attr header;
  std::uint32_t unread[3];
  std::uint32_t octets_out[2];
  std::uint32_t octets_in[2];
  std::uint32_t packets_out[2];
  std::uint32_t packets_in[2];
  std::uint32_t time;
  std::uint32_t unread_end;
};
static_assert(sizeof(voacct) == 64);

// Gateway to agent: the controller accepted the user.
struct auth_accept {
  attr header;
  std::uint32_t result;  // always 1
};
static_assert(sizeof(auth_accept) == 16);

// Gateway to agent: the link's addresses (network byte order) and MTU.
struct auth_ip {
  attr header;
  std::uint32_t zero;
  std::uint32_t remote;
  std::uint32_t netmask;
  std::uint32_t gateway;
  std::uint32_t dns;
  std::uint32_t mtu;
};
static_assert(sizeof(auth_ip) == 36);
