#include "asn1/coder_env.h"

#include <new>

namespace ASN1 {

namespace {

// Runs one stream operation and turns its outcome, or its exception, into the stream's
// state as the stream's exception mask asks.
template <class Operation>
void do_it(std::ios& stream, Operation operation) {
  std::ios_base::iostate state = std::ios_base::goodbit;
  try {
    state = operation();
  } catch (std::bad_alloc const&) {
    state |= std::ios_base::badbit;
    std::ios_base::iostate const mask = stream.exceptions();
    if ((mask & std::ios_base::failbit) && !(mask & std::ios_base::badbit)) {
      stream.setstate(state);
      return;
    }
    if (mask & std::ios_base::badbit) {
      try {
        stream.setstate(state);
      } catch (std::ios_base::failure const&) {
      }
      throw;
    }
  } catch (...) {
    state = std::ios_base::failbit;
    std::ios_base::iostate const mask = stream.exceptions();
    if ((mask & std::ios_base::badbit) && (state & std::ios_base::badbit)) {
      stream.setstate(state);
      return;
    }
    if (mask & std::ios_base::failbit) {
      try {
        stream.setstate(state);
      } catch (std::ios_base::failure const&) {
      }
      throw;
    }
  }
  if (state != std::ios_base::goodbit) stream.setstate(state);
}

}  // namespace

std::ostream& operator<<(std::ostream& os, AbstractData const& value) {
  if (!os.good()) return os;
  do_it(os, [&] {
    std::ostream::sentry sentry(os);
    return sentry ? value.print_on(os) : std::ios_base::goodbit;
  });
  return os;
}

std::istream& operator>>(std::istream& is, AbstractData& value) {
  if (!is.good()) return is;
  do_it(is, [&] {
    std::istream::sentry sentry(is);  // skips white space
    return sentry ? value.get_from(is) : std::ios_base::goodbit;
  });
  return is;
}

}  // namespace ASN1
