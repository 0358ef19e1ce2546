#pragma once
// The single poll loop of the process. Everything that waits registers with it: descriptor
// handlers (Event), one-shot timer entries (Timer) and deferred calls (Dpc). The loop owns
// none of them; each is a member of the object it serves and leaves the loop before it
// is destroyed. The loop also keeps the board's watchdog alive.

#include <csignal>
#include <ostream>
#include <poll.h>
#include <string>
#include <vector>

#include "foundation/dual_list.h"
#include "foundation/measure.h"
#include "foundation/timer.h"

class Dpc;

// A descriptor registration as the loop sees it.
class EventHandler : public F_dual_list_item<EventHandler> {
public:
  EventHandler() = default;
  EventHandler(EventHandler const&) = delete;
  EventHandler& operator=(EventHandler const&) = delete;
  // Does not detach: subclasses leave the loop before they go.
  virtual ~EventHandler() = default;

  virtual void shedule_event(pollfd& record) = 0;
  virtual void svc_event(short revents) = 0;
  virtual std::string event_name() const { return "unknown"; }
  virtual bool is_named() const { return false; }

  void mux_attach();
  void mux_detach();
  void svc_event() { svc_event(m_revents); }

private:
  friend class Multiplexer;
  bool m_attached = false;
  short m_revents = 0;
  // The loop's list that holds this handler (null when none), and the index of the poll
  // record filled from it in the current pass (-1 when none): a handler detached between
  // collection and dispatch is never paired with a record again.
  F_dual_list<EventHandler>* m_list = nullptr;
  int m_poll_index = -1;
};

class Multiplexer {
public:
  using PollFunction = int (*)(pollfd* records, nfds_t count, int timeout_ms);

  constexpr Multiplexer() : m_polled(&m_handler_lists[0]), m_serviced(&m_handler_lists[1]) {}
  Multiplexer(Multiplexer const&) = delete;
  Multiplexer& operator=(Multiplexer const&) = delete;

  // Runs passes until terminate(). `watchdog` opens and feeds the board's watchdog;
  // `no_time_cache` false latches the clock once per pass.
  int run(bool watchdog, bool no_time_cache);
  // Async-signal-safe: one store.
  void terminate() { m_stop = 1; }
  void resetWD();

  void set(TimerEvent* entry);
  void reset(TimerEvent* entry);

  void attach(EventHandler* handler);
  void detach(EventHandler* handler);

  void attach(Dpc* dpc);
  void dettach(Dpc* dpc);

  Measure const& dpc_measure() const { return m_dpc_measure; }
  Measure const& event_measure() const { return m_event_measure; }
  Measure const& timer_measure() const { return m_timer_measure; }
  F_dual_list<EventHandler> const& polled_handlers() const { return *m_polled; }
  unsigned pending_timers() const { return m_timers.count(); }
  // The loop's part of the status dump: its timing records, the profiling points and a
  // table of the named descriptor registrations being polled.
  void dump(std::ostream& os) const;

  // Test hook: replaces the poll call (null restores it). Returns the previous one.
  PollFunction set_poll_function(PollFunction poll_function);
  // The poll call, the system's or the hook's: also for code that waits outside a pass,
  // so that tests step its waits in simulated time too.
  int poll(pollfd* records, nfds_t count, int timeout_ms) const {
    return m_poll_function ? m_poll_function(records, count, timeout_ms) : ::poll(records, count, timeout_ms);
  }

private:
  int timers_schedule();
  void execute_dpc();
  void collect();
  int shorten_to_next_timer(int timeout) const;
  void dispatch();
  void ping_watchdog();
  void open_watchdog();
  void close_watchdog();

  F_sorted_list<TimerEvent> m_timers;
  F_dual_list<EventHandler> m_new;
  // Polled and serviced lists: after dispatch the serviced one becomes the polled one by
  // exchanging the two pointers, so no handler is relinked or relabelled.
  F_dual_list<EventHandler> m_handler_lists[2];
  F_dual_list<EventHandler>* m_polled;
  F_dual_list<EventHandler>* m_serviced;
  std::vector<pollfd> m_poll;
  std::vector<Dpc*> m_dpcs;  // sorted by address, no duplicates
  std::vector<Dpc*> m_dpc_run;
  std::size_t m_dpc_next = 0;
  volatile std::sig_atomic_t m_stop = 0;
  Measure m_dpc_measure;
  Measure m_event_measure;
  Measure m_timer_measure;
  int m_watchdog = -1;
  unsigned m_last_ping = 0;
  PollFunction m_poll_function = nullptr;
};

// The names of the set poll bits joined by "|" ("POLLIN|POLLOUT"); other bits are not shown.
std::string PollEventAsText(unsigned short events);

// The process's loop. It is never destroyed, so static objects that leave it in their
// destructors may do so in any order at exit.
extern Multiplexer& multiplexer;
