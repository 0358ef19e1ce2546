#include "hardware/hdlc.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <new>
#include <poll.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "foundation/fd.h"
#include "foundation/trace_ctl.h"
#include "hardware/hw_mux.h"

namespace {

constexpr std::uint32_t kPacketSize = 512;
constexpr std::uint32_t kRxThreshold = 1;
constexpr std::uint32_t kTxThreshold = 4;

class NoNotify : public HDLC::Notify {
public:
  void on_hdlc_receive(Packet&) override {}
  void on_hdlc_error(Cause::Type) override {}
  void on_hdlc_ready() override {}
};

bool tracing() { return traces.signalling.hdlc; }

// The allocation mode of an HDLC type; false for a type no owner sets.
bool mode_of(std::uint32_t type, std::uint32_t& mode) {
  switch (type) {
    case 0: mode = 3; return true;
    case 1: mode = 0; return true;
    case 2: mode = 1; return true;
    default: return false;
  }
}

}  // namespace

HDLC::HDLC() { unbind(); }

HDLC::~HDLC() {
  if (m_event.IsActive()) m_event.Release();
}

void HDLC::unbind() {
  static NoNotify nothing;
  m_notify = &nothing;
}

void HDLC::PutHeader(std::ostream& os) const {
  os << "hdlc [" << std::dec << m_trunk << "/" << m_params.timeslot << "]: ";
}

bool HDLC::activate() {
  deactivate();
  m_statistics = {};
  std::uint32_t mode = 0;
  if (!mode_of(m_params.type, mode)) {
    std::cerr << ext::header(this) << "HDLC type " << std::dec << m_params.type << " unknown: not activated" << std::endl;
    return false;
  }
  Fd fd(Board::io().open(Board::kMccControl, O_RDWR | O_NONBLOCK));
  if (!fd) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to open MCC device: " << error << std::endl;
    return false;
  }
  Board::MccAllocate allocation{mode, kPacketSize, 0, kRxThreshold, kTxThreshold};
  if (Board::io().ioctl(fd.lowlevel_fd(), Board::MCC_ALLOCATE, &allocation) == -1) {
    Errno const error;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << error << std::endl;
    return false;
  }
  int const port = Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0);
  if (port < 0) {
    Errno const error;
    std::cerr << ext::header(this) << "MCC_TIMESLOT fail: " << error << std::endl;
    return false;
  }
  // Bound once: a rebind from inside the callback would delete the running handler.
  if (!m_event.is_bound()) m_event.Bind("HDLC::OnEvent", &HDLC::on_event, this);
  // Watched before the switch connects: a descriptor the loop cannot take leaves the
  // switch as it was.
  m_event.Schedule(fd, POLLIN | POLLOUT);
  if (!m_event.IsActive()) {
    std::cerr << ext::header(this) << "channel not watched: not activated" << std::endl;
    return false;
  }
  HwMux& mux = HwMux::instance();
  mux.Connect(port, m_params.type == 2 ? m_params.tdm_tx : m_params.tdm);
  mux.Connect(m_params.tdm, port);
  ++m_generation;
  m_ready = false;
  if (tracing()) std::clog << ext::header(this) << "activated" << std::endl;
  return true;
}

void HDLC::deactivate() {
  if (m_event.IsActive()) m_event.Release();
  ++m_generation;
  m_ready = false;
  if (tracing()) std::clog << ext::header(this) << "deactivated" << std::endl;
}

void HDLC::on_event(int, short revents) {
  unsigned const generation = m_generation;
  if (revents & POLLIN) do_read();
  if (generation != m_generation) return;
  // A channel that hung up would be reported ready on every pass.
  if (Event::HungUp(revents)) return read_failed("hung up");
  if ((revents & POLLOUT) && !m_ready) {
    m_ready = true;
    m_event.SetEvents(POLLIN);
    m_notify->on_hdlc_ready();
  }
}

void HDLC::do_read() {
  if (tracing()) std::clog << ext::header(this) << "do_read" << std::endl;
  if (!is_open()) {
    std::clog << ext::header(this) << "do_read: !m_event.IsActive()" << std::endl;
    return;
  }
  unsigned const generation = m_generation;
  // Where a frame goes when the pool has no packet for it: read, so that it leaves the
  // device, and dropped.
  static std::uint8_t scratch[packet_max_size];
  for (;;) {
    Packet frame;
    bool pooled = true;
    try {
      frame.reserve_head(0);
    } catch (std::bad_alloc const&) {
      pooled = false;
    }
    std::uint8_t* const into = pooled ? frame.tail() : scratch;
    unsigned const room = pooled ? frame.tailroom() : sizeof scratch;
    ssize_t const got = Board::io().read(m_event.lowlevel_fd(), into, room);
    int const error = got < 0 ? errno : 0;
    if (got > 0 && !pooled) {
      std::cerr << ext::header(this) << "no packet for a received frame: " << std::dec << got << " bytes dropped"
                << std::endl;
      continue;
    }
    if (got > 0) {
      frame.put(static_cast<unsigned>(got));
      if (tracing()) std::clog << "HDLC[" << std::dec << m_trunk << "]: rx " << frame << std::endl;
      ++m_statistics.received;
      m_notify->on_hdlc_receive(frame);
      frame.clear();
      if (!is_open() || generation != m_generation) return;
      continue;
    }
    if (got < 0 && error == EAGAIN) return;
    // An end of file says nothing of errno: a stale EAGAIN would read it again forever.
    if (got == 0) return read_failed("end of file");
    return read_failed(Errno(error));
  }
}

template <class Why>
void HDLC::read_failed(Why const& why) {
  std::cerr << ext::header(this) << "read error: " << why << std::endl;
  deactivate();
  m_notify->on_hdlc_error(Notify::Cause::read_failed);
}

bool HDLC::hdlc_transmit(Packet& frame) {
  if (frame.empty()) return true;
  if (!is_open()) {
    ++m_statistics.discarded;
    return false;
  }
  if (tracing()) std::clog << "HDLC[" << std::dec << m_trunk << "]: tx " << frame << std::endl;
  for (;;) {
    if (Board::io().write(m_event.lowlevel_fd(), frame.cdata(), frame.length()) != -1) {
      ++m_statistics.sent;
      return true;
    }
    int const error = errno;
    if (error == EINTR) continue;
    if (error == EAGAIN) {
      // on_hdlc_ready() follows when the device takes writes again.
      m_ready = false;
      m_event.SetEvents(POLLIN | POLLOUT);
      return false;
    }
    ++m_statistics.write_errors;
    return false;
  }
}
