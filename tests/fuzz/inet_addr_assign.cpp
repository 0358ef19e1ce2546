// Arbitrary text into INet4::Addr::Assign: it must never crash, must reject any port
// that is not a decimal number in 0..65535 without changing anything, and must agree
// with inet_aton on the address.

#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/inet.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

constexpr long kNoPort = -1;
constexpr long kBadPort = -2;

long port_in(std::string const& text) {
  std::size_t const colon = text.find(':');
  if (colon == std::string::npos) return kNoPort;
  std::string const digits = text.substr(colon + 1);
  if (digits.empty()) return kBadPort;
  long value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return kBadPort;
    value = value * 10 + (c - '0');
    if (value > 65535) return kBadPort;
  }
  return value;
}

std::vector<unsigned char> bytes(in_addr a) {
  auto const* p = reinterpret_cast<unsigned char const*>(&a.s_addr);
  return {p, p + 4};
}

INet4::Addr start() { return INet4::Addr("192.0.2.1:4321"); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string const raw(reinterpret_cast<char const*>(data), size);
  std::string const text = raw.c_str();  // the parser sees the text up to a NUL
  long const want = port_in(text);
  in_addr host;
  bool const host_ok = ::inet_aton(text.substr(0, text.find(':')).c_str(), &host) != 0;

  INet4::Addr a = start();
  int port = 12345;
  bool const ok = a.Assign(raw, &port);
  if (want == kBadPort) {
    check(!ok && port == 12345 && a == start());
  } else {
    check(ok == host_ok);
    check(port == want);
    check(a.port() == (want == kNoPort ? 4321 : want));
    check(a.GetVector() == (ok ? bytes(host) : start().GetVector()));
  }

  INet4::Addr b = start();
  check(b.Assign(text.c_str(), nullptr) == ok && b == a);

  INet4::Addr assigned = start();
  assigned = raw;
  check(assigned == a);

  if (ok) {
    INet4::Addr const built(raw);
    check(built.GetVector() == a.GetVector() && built.port() == (want == kNoPort ? 0 : want));
    INet4::Addr back;
    check(back.Assign(a.GetString(), nullptr) && back == a);
  }
  return 0;
}
