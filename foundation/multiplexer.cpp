#include "foundation/multiplexer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/clock.h"
#include "foundation/dpc.h"
#include "foundation/event.h"
#include "foundation/ext.h"
#include "foundation/fatal.h"
#include "foundation/fd.h"
#include "foundation/profile.h"

namespace {

// Longest wait the timer scan accepts; anything else is a broken deadline.
constexpr int kMaxTimerWait = 7200000;
// Longest poll while the watchdog is open, and the least spacing of its pings.
constexpr int kWatchdogPollCap = 1000;
constexpr unsigned kWatchdogPingSpacing = 999;

union Storage {
  constexpr Storage() : mux() {}
  ~Storage() {}
  Multiplexer mux;
};
constinit Storage g_storage;

}  // namespace

Multiplexer& multiplexer = g_storage.mux;

void EventHandler::mux_attach() {
  if (m_attached) return;
  multiplexer.attach(this);
  m_attached = true;
}

void EventHandler::mux_detach() {
  if (!m_attached) return;
  multiplexer.detach(this);
  m_attached = false;
}

Multiplexer::PollFunction Multiplexer::set_poll_function(PollFunction poll_function) {
  PollFunction const previous = m_poll_function;
  m_poll_function = poll_function;
  return previous;
}

int Multiplexer::run(bool watchdog, bool no_time_cache) {
  m_stop = 0;
  m_last_ping = 0;
  if (watchdog) open_watchdog();
  if (!no_time_cache) Mux::mux_settimeofday();

  while (!m_stop) {
    int timeout = timers_schedule();
    if (timeout <= 0) timeout = -1;
    collect();
    execute_dpc();
    timeout = shorten_to_next_timer(timeout);
    // A stop asked for by a timer or deferred call must not wait in poll (or look like a hang).
    if (m_stop) break;
    // Before the watchdog's cap: with the watchdog open, nothing to wait for would
    // otherwise idle for ever, keeping the board alive around a dead loop.
    if (timeout < 0 && m_poll.empty()) fatal_report("multiplexer: system hang detected!!!");
    if (m_watchdog >= 0 && (timeout < 0 || timeout > kWatchdogPollCap)) timeout = kWatchdogPollCap;

    int const ready = poll(m_poll.data(), m_poll.size(), timeout);
    int const poll_errno = errno;
    if (!no_time_cache) Mux::mux_settimeofday();
    ping_watchdog();
    if (ready == 0) continue;
    if (ready < 0) {
      if (poll_errno == EINTR) continue;
      fatal_report(std::string("multiplexer poll failed: ") + std::strerror(poll_errno));
    }
    dispatch();
  }

  std::clog << "Mux: terminating..." << std::endl;
  close_watchdog();
  return 0;
}

int Multiplexer::timers_schedule() {
  unsigned const now = Mux::milliseconds();
  while (!m_timers.empty() && static_cast<int>(now - m_timers.head()->expire) >= 0) {
    TimerEvent* const entry = m_timers.remove_from_head();
    entry->m_listed = false;
    m_timer_measure.begin();
    entry->fire();
    m_timer_measure.end();
  }
  execute_dpc();

  unsigned const first = m_timers.empty() ? now : m_timers.head()->expire;
  int const wait = static_cast<int>(first - now);
  if (wait >= 0 && wait <= kMaxTimerWait) return wait;

  std::cerr << "******** RUNTIME ERROR CONDITION *************"
            << "Multiplexer::timers_schedule() invalid wait time detected!" << std::endl
            << "now = " << std::dec << now << std::endl
            << "first = " << first << std::endl
            << "count = " << m_timers.count() << std::endl;
  for (TimerEvent& entry : m_timers) entry.expire = now + kWatchdogPollCap;
  return kWatchdogPollCap;
}

void Multiplexer::execute_dpc() {
  m_dpc_run.assign(m_dpcs.begin(), m_dpcs.end());
  for (m_dpc_next = 0; m_dpc_next < m_dpc_run.size();) {
    Dpc* const dpc = m_dpc_run[m_dpc_next++];
    if (!dpc) continue;  // deactivated by an earlier call of this run
    m_dpc_measure.begin();
    dpc->Invoke();
    m_dpc_measure.end();
  }
  m_dpc_run.clear();
  m_dpc_next = 0;
}

void Multiplexer::collect() {
  while (EventHandler* const handler = m_new.remove_from_head()) {
    m_polled->insert_to_tail(handler);
    handler->m_list = m_polled;
  }
  if (m_poll.size() != m_polled->size()) m_poll.resize(m_polled->size());
  int index = 0;
  for (EventHandler& handler : *m_polled) {
    pollfd& record = m_poll[index];
    record.revents = 0;
    handler.shedule_event(record);
    handler.m_poll_index = index++;
  }
}

// A timer that the deferred calls armed after the scan must not wait behind the poll.
int Multiplexer::shorten_to_next_timer(int timeout) const {
  if (m_timers.empty()) return timeout;
  int due_in = static_cast<int>(m_timers.head()->expire - Mux::milliseconds());
  if (due_in < 0) due_in = 0;
  if (due_in > kMaxTimerWait) due_in = kWatchdogPollCap;  // the next scan reports it
  return timeout < 0 || due_in < timeout ? due_in : timeout;
}

void Multiplexer::dispatch() {
  for (EventHandler& handler : *m_polled)
    handler.m_revents = handler.m_poll_index >= 0 ? m_poll[handler.m_poll_index].revents : 0;

  while (!m_stop && !m_polled->empty()) {
    EventHandler* const handler = m_polled->remove_from_head();
    m_serviced->insert_to_tail(handler);
    handler->m_list = m_serviced;
    handler->m_poll_index = -1;
    m_event_measure.begin();
    handler->svc_event();  // may detach or destroy the handler
    m_event_measure.end();
  }
  // After a stop, the handlers not dispatched stay registered for a later run.
  while (EventHandler* const handler = m_polled->remove_from_head()) {
    m_serviced->insert_to_tail(handler);
    handler->m_list = m_serviced;
    handler->m_poll_index = -1;
  }
  std::swap(m_polled, m_serviced);
}

void Multiplexer::attach(EventHandler* handler) {
  if (handler->m_list) {
    std::cerr << "duplicate multiplexer attach " << std::flush << '"' << handler->event_name() << '"'
              << " ignored." << std::endl;
    return;
  }
  m_new.insert_to_tail(handler);
  handler->m_list = &m_new;
}

void Multiplexer::detach(EventHandler* handler) {
  if (!handler->m_list) {
    std::cerr << "indvalid Multiplexer::detach " << std::flush << handler->event_name() << std::endl;
    return;
  }
  handler->m_list->remove(handler);
  handler->m_list = nullptr;
  // Its record, if already collected, must not wake the poll of this pass.
  if (handler->m_poll_index >= 0) m_poll[handler->m_poll_index].fd = -1;
  handler->m_poll_index = -1;
}

void Multiplexer::attach(Dpc* dpc) {
  auto const at = std::lower_bound(m_dpcs.begin(), m_dpcs.end(), dpc);
  if (at == m_dpcs.end() || *at != dpc) m_dpcs.insert(at, dpc);
}

void Multiplexer::dettach(Dpc* dpc) {
  auto const at = std::lower_bound(m_dpcs.begin(), m_dpcs.end(), dpc);
  if (at != m_dpcs.end() && *at == dpc) m_dpcs.erase(at);
  for (std::size_t i = m_dpc_next; i < m_dpc_run.size(); ++i) {
    if (m_dpc_run[i] == dpc) m_dpc_run[i] = nullptr;
  }
}

void Multiplexer::set(TimerEvent* entry) {
  if (entry->m_listed) m_timers.remove(entry);
  m_timers.insert_to_tail_by_grown(entry);
  entry->m_listed = true;
}

void Multiplexer::reset(TimerEvent* entry) {
  if (!entry->m_listed) return;
  m_timers.remove(entry);
  entry->m_listed = false;
}

void Multiplexer::resetWD() {
  if (m_watchdog < 0) return;
  if (Board::io().write(m_watchdog, "PING", 4) < 0) {
    Errno const error;
    std::cerr << "Mux: ping watchdog failed: " << error << std::endl;
  }
}

void Multiplexer::ping_watchdog() {
  unsigned const now = Mux::milliseconds();
  if (m_last_ping == 0 || m_last_ping > now || now - m_last_ping > kWatchdogPingSpacing) {
    m_last_ping = now;
    resetWD();
  }
}

void Multiplexer::open_watchdog() {
  int const fd = Board::io().open(Board::kWatchdog, O_WRONLY);
  if (fd < 0) {
    Errno const error;
    std::cerr << "Mux: fail to open watchdog: " << error << std::endl;
    return;
  }
  if (Board::io().write(fd, "START", 5) < 0) {
    Errno const error;
    std::cerr << "Mux: fail to activate watchdog: " << error << std::endl;
    ::close(fd);
    return;
  }
  m_watchdog = fd;
}

void Multiplexer::close_watchdog() {
  if (m_watchdog < 0) return;
  if (Board::io().write(m_watchdog, "STOP", 4) < 0) {
    Errno const error;
    std::cerr << "Mux: stop watchdog failed: " << error << std::endl;
  }
  ::close(m_watchdog);
  m_watchdog = -1;
}

std::string PollEventAsText(unsigned short events) {
  static constexpr struct {
    unsigned short bit;
    char const* name;
  } kBits[] = {
      {0x1, "|POLLIN"},       {0x2, "|POLLPRI"},     {0x4, "|POLLOUT"},      {0x8, "|POLLERR"},
      {0x10, "|POLLHUP"},     {0x20, "|POLLNVAL"},   {0x40, "|POLLRDNORM"},  {0x80, "|POLLRDBAND"},
      {0x100, "|POLLWRNORM"}, {0x200, "|POLLWRBAND"}, {0x400, "|POLLMSG"},
  };
  std::string text;
  for (auto const& bit : kBits) {
    if (events & bit.bit) text += bit.name;
  }
  return text.empty() ? text : text.substr(1);
}

void Multiplexer::dump(std::ostream& os) const {
  os << "dpc transition measurement (min/max/cur/counter): " << m_dpc_measure << '\n'
     << "event transition measurement (min/max/cur/counter): " << m_event_measure << '\n'
     << "timer transition measurement (min/max/cur/counter): " << m_timer_measure << '\n';
  Profile::dump(os);

  ext::Table table(40, 30, 10, 10, 5, 60);
  os << table << ext::delimeter;
  os << table << ext::beginrow << "name" << ext::nextrow << "events" << ext::nextrow << "count" << ext::nextrow
     << "handler" << ext::nextrow << "fd" << ext::nextrow << "measure" << ext::nextrow;
  os << table << ext::delimeter;
  for (EventHandler const& handler : *m_polled) {
    if (!handler.is_named()) continue;
    auto const* event = dynamic_cast<Event const*>(&handler);
    if (!event) continue;
    // "attached" here means a callback is bound, not that the loop polls it.
    os << table << ext::beginrow << event->event_name() << ext::nextrow
       << PollEventAsText(static_cast<unsigned short>(event->events())) << ext::nextrow << event->counter()
       << ext::nextrow << (event->is_bound() ? "attached" : "unattached") << ext::nextrow << event->lowlevel_fd()
       << ext::nextrow << event->measure() << ext::nextrow;
  }
  os << table << ext::delimeter;
  os << '\n';
}
