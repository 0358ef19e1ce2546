#include "foundation/event.h"

#include <iostream>

Event::~Event() {
  delete m_handler;
  if (m_fd.is_valid()) mux_detach();
}

void Event::Bind(Handler* handler) {
  delete m_handler;
  m_handler = handler;
}

void Event::Schedule(Fd const& fd, short events) {
  if (m_fd.is_valid()) mux_detach();
  m_fd = fd;
  if (fd.is_valid() && !m_fd.is_valid()) {
    Errno const error;
    std::cerr << "Event \"" << m_name << "\": can't duplicate descriptor " << fd.lowlevel_fd() << ": " << error
              << std::endl;
  }
  m_events = events;
  if (m_fd.is_valid()) mux_attach();
}

int Event::Release() {
  if (m_fd.is_valid()) mux_detach();
  return m_fd.close();
}

void Event::shedule_event(pollfd& record) {
  record.fd = m_fd.lowlevel_fd();
  record.events = m_events;
}

void Event::svc_event(short revents) {
  if (revents & m_events) ++m_counter;
  // The callback may destroy this Event: nothing here touches it afterwards.
  if (m_handler) m_handler->Invoke(m_fd.lowlevel_fd(), revents);
}
