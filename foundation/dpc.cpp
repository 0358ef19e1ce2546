#include "foundation/dpc.h"

#include "foundation/multiplexer.h"

Dpc::~Dpc() {
  Deactivate();
  delete m_handler;
}

void Dpc::Bind(DpcHandler* handler) {
  delete m_handler;
  m_handler = handler;
}

void Dpc::Activate() {
  if (!m_active) multiplexer.attach(this);
  m_active = true;
}

void Dpc::Deactivate() {
  if (m_active) multiplexer.dettach(this);
  m_active = false;
}
