#pragma once
// The bottom layer of every connection stack: owns a connected stream socket, hands up
// whatever one read returns, and writes each packet handed down completely before
// returning, waiting at most 1000 ms per packet for the socket to drain while keeping
// the watchdog fed. Any socket failure closes the socket and travels up as an error.

#include <ostream>
#include <string>

#include "foundation/event.h"
#include "foundation/fd.h"
#include "foundation/measure.h"
#include "protocol/protocol.h"

// Logs the destructor of every stream layer when set; nothing sets it in the daemon.
extern bool strm_protocol_debug;

class StrmProtocol : public Protocol {
public:
  StrmProtocol();
  explicit StrmProtocol(Fd fd);
  ~StrmProtocol() override;

  void attach(Fd fd);
  void release();
  bool opened() const { return m_socket.is_valid(); }

  int sendbuf_space() const;
  int recvbuf_space() const;
  int inq_space() const;
  int outq_space() const;
  int free_space() const;

  unsigned GetOverflowCounter() const { return m_overflow; }
  std::string const& service_name() const { return m_service_name; }
  void service_name(std::string const& name) { m_service_name = name; }
  Measure const& get_read_measure() const { return m_read_measure; }
  Measure const& get_write_measure() const { return m_write_measure; }

  void PutHeader(std::ostream& os) const;

  Protocol_name const& name() const override { return m_name; }
  void local_prepare_head(Packet& p) override { p.reserve_head(0); }
  void local_prepare_tail(Packet& p) override { p.reserve_tail(0); }
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;

  // Budget of one packet's write, waits included.
  static constexpr int kWriteBudgetMs = 1000;

private:
  void on_event(int fd, short revents);
  void do_read();
  void on_error(std::string const& text);
  void put_figures(std::ostream& os) const;
  int getsockopt_int(int option) const;

  Protocol_name_str m_name{"StrmProtocol"};
  Fd m_socket;
  bool m_outq_is_free = false;
  bool m_trace = false;
  std::string m_service_name;
  Event m_event;
  Measure m_read_measure;
  Measure m_write_measure;
  unsigned m_overflow = 0;
};
