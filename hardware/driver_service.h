#pragma once
// What the tone and DSP services share: the device descriptor watched in the loop and
// the one counter their receiver ids come from; and the read of a device's event records,
// which the RTP slots' sessions use too.

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <string>

#include "foundation/board_io.h"
#include "foundation/event.h"

namespace Hardware {

// Hands every whole record waiting on `fd` to `dispatch`, one record per read: a read of
// nothing or of a piece of a record ends the pass. A failed read's line begins with
// `failure` ("fail to read from tonec: "), anything streamable. True when a read found
// the end of the device (no record is empty): the caller stops watching it, or the loop
// would find it ready on every pass.
template <class Record, class Failure, class Dispatch>
bool read_records(int fd, short revents, Failure const& failure, Dispatch dispatch) {
  if (!(revents & POLLIN)) return false;
  for (;;) {
    Record record;
    ssize_t const got = Board::io().read(fd, &record, sizeof record);
    if (got < 0) {
      if (errno == EAGAIN) return false;
      Errno const error;
      std::cerr << failure << error << std::endl;
      return false;
    }
    if (got == 0) return true;
    if (static_cast<std::size_t>(got) < sizeof record) {
      std::cerr << failure << "short record of " << got << " bytes" << std::endl;
      return false;
    }
    dispatch(record);
  }
}

class DriverService : public Event {
public:
  // Tests start the id counter where they need it.
  void set_idCounter(std::uint32_t value) { idCounter = value; }

protected:
  // The next receiver id; 0 is never given out.
  std::uint32_t next_id() {
    if (++idCounter == 0) idCounter = 1;
    return idCounter;
  }

  // Opens `path` non-blocking and watches it for events with `handler`; `failure` and
  // the error text go to the error stream when it does not open.
  template <class Service>
  void open_device(char const* path, int flags, char const* failure, std::string const& name,
                   void (Service::*handler)(int, short), Service* service) {
    int const fd = Board::io().open(path, flags | O_NONBLOCK);
    if (fd < 0) {
      Errno const error;
      std::cerr << failure << error << std::endl;
      return;
    }
    Bind(name, handler, service);
    Schedule(Fd(fd), POLLIN);
  }

private:
  std::uint32_t idCounter = 0;  // the last id given out
};

}  // namespace Hardware
