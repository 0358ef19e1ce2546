// Preloaded into the board's programs under qemu-user 7.2 only (the emulator's preload
// list, never the host's). That emulator answers getsockopt(TCP_INFO) with 4 bytes: the
// kernel's first four one-byte fields (state, congestion state, retransmits, probes) taken
// as one 32-bit word and byte-swapped. The connection check reads the first two and would
// drop every controller link; reversing the four bytes gives them back as the kernel wrote
// them. Any other answer passes through untouched.

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>

namespace {

using GetSockOpt = int (*)(int, int, int, void*, socklen_t*);

GetSockOpt real_getsockopt() {
  static GetSockOpt const real = reinterpret_cast<GetSockOpt>(::dlsym(RTLD_NEXT, "getsockopt"));
  return real;
}

}  // namespace

extern "C" int getsockopt(int fd, int level, int name, void* value, socklen_t* length) noexcept {
  int const result = real_getsockopt()(fd, level, name, value, length);
  if (result == 0 && level == IPPROTO_TCP && name == TCP_INFO && value != nullptr && length != nullptr &&
      *length == 4) {
    auto* const bytes = static_cast<unsigned char*>(value);
    std::reverse(bytes, bytes + 4);
  }
  return result;
}
