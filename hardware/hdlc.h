#pragma once
// HDLC framer channels on the board's multichannel HDLC controller (Board::kMccControl):
// each open of the device, once allocated, is one channel on which a write sends one
// frame and a read returns one. GenericHDLC is the frame channel a link protocol sends
// through; HDLC is the framer channel itself, which an owner points at a switch port and
// which reports received frames, read failures and readiness through HDLC::Notify.

#include <cstdint>
#include <ostream>

#include "foundation/event.h"
#include "foundation/packet.h"

class GenericHDLC {
public:
  virtual ~GenericHDLC() = default;
  // False when the frame was not taken; it is then dropped.
  virtual bool hdlc_transmit(Packet& frame) = 0;
  virtual bool is_open() const = 0;
  virtual bool is_ready() const = 0;
};

class HDLC : public GenericHDLC {
public:
  class Notify {
  public:
    struct Cause {
      enum Type { read_failed = 0 };
    };
    virtual ~Notify() = default;
    virtual void on_hdlc_receive(Packet& frame) = 0;
    // The channel has closed itself.
    virtual void on_hdlc_error(Cause::Type cause) = 0;
    // The channel takes writes again.
    virtual void on_hdlc_ready() = 0;
  };

  // Set by the owner; takes effect at the next activate().
  struct Params {
    std::uint32_t trunk = 0;
    std::uint32_t timeslot = 0;
    // The connected slot's switch port: the channel receives from it and, but for type
    // 2, transmits to it.
    std::int32_t tdm = -1;
    // Where a type-2 channel transmits.
    std::int32_t tdm_tx = -1;
    // 0 SS7 signalling units, 1 data, 2 BRI.
    std::uint32_t type = 0;
  };

  struct Statistics {
    std::uint32_t sent = 0;
    std::uint32_t discarded = 0;  // offered while the channel was closed, or dropped by the owner
    std::uint32_t write_errors = 0;
    std::uint32_t overflows = 0;  // nothing counts here
    std::uint32_t received = 0;
  };

  HDLC();
  ~HDLC() override;
  HDLC(HDLC const&) = delete;
  HDLC& operator=(HDLC const&) = delete;

  void trunk(unsigned trunk) { m_trunk = trunk; }
  void logLevel(unsigned level) { m_log_level = level; }
  unsigned logLevel() const { return m_log_level; }
  void bind(Notify* notify) { m_notify = notify; }
  // Binds a receiver whose callbacks do nothing.
  void unbind();
  void params(Params const& params) { m_params = params; }
  Params const& params() const { return m_params; }

  // Opens and allocates a new channel and connects it through the switch; an open one
  // is closed first. False, with a line on the error stream, when it cannot.
  bool activate();
  void deactivate();

  bool hdlc_transmit(Packet& frame) override;
  bool is_open() const override { return m_event.IsActive(); }
  bool is_ready() const override { return m_ready; }

  Statistics const& statistics() const { return m_statistics; }
  // Counts a frame that the owner dropped instead of offering it.
  void discard() { ++m_statistics.discarded; }
  void PutHeader(std::ostream& os) const;

private:
  void on_event(int fd, short revents);
  void do_read();
  // Closes the channel after a failed read, saying why, and tells the owner.
  template <class Why>
  void read_failed(Why const& why);

  bool m_ready = false;
  Params m_params;
  Statistics m_statistics;
  Event m_event;
  unsigned m_log_level = 0;
  unsigned m_trunk = 0;
  Notify* m_notify = nullptr;
  // Counts activations and closes: a poll callback acts only for the channel it was
  // called for, not for one the owner opened from inside it.
  unsigned m_generation = 0;
};
