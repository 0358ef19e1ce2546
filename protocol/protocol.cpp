#include "protocol/protocol.h"

#include <cstring>

bool Protocol_name_str::compare(Protocol_name const& other) const {
  return compatible(other) && std::strcmp(name(), other.name()) == 0;
}

std::ostream& operator<<(std::ostream& os, Protocol_name const& name) {
  name.out(os);
  return os;
}

std::ostream& operator<<(std::ostream& os, Protocol_info const& info) {
  info.out(os);
  return os;
}

Protocol::~Protocol() {
  if (m_owner) m_owner->m_layers.remove(this);
}

ProtocolStatus Protocol::local_initialize() { return ProtocolStatus(new Protocol_status_success(this, "success")); }

void Protocol::local_deactivate() { on_deactivate(ProtocolStatus(new Protocol_status_success(this, "success"))); }

void Protocol::transmit(Packet& p) {
  if (Protocol* const below = lower())
    below->message(p);
  else if (m_owner)
    m_owner->transmit(p);
}

void Protocol::on_message(Packet& p) {
  if (Protocol* const above = upper())
    above->receive(p);
  else if (m_owner)
    m_owner->on_message(p);
}

void Protocol::on_activate() {
  if (Protocol* const above = upper())
    above->local_activate();
  else if (m_owner)
    m_owner->on_activated(this);
}

void Protocol::on_deactivate(ProtocolStatus status) {
  if (status->success()) {
    if (Protocol* const below = lower())
      below->deactivate();
    else if (m_owner)
      m_owner->on_deactivated(this, status);
    return;
  }
  if (Protocol* const above = upper())
    above->on_deactivate(status);
  else if (m_owner)
    m_owner->on_deactivated(this, status);
}

void Protocol::on_status(ProtocolStatus status) {
  if (Protocol* const above = upper())
    above->on_status(status);
  else if (m_owner)
    m_owner->on_status(status);
}

void Protocol::activate() {
  if (Protocol* const below = lower())
    below->activate();
  else
    local_activate();
}

void Protocol::prepare_head(Packet& p) {
  descend_prepare_head(p);
  local_prepare_head(p);
}

void Protocol::prepare_tail(Packet& p) {
  descend_prepare_tail(p);
  local_prepare_tail(p);
}

void Protocol::descend_prepare_head(Packet& p) {
  if (Protocol* const below = lower()) below->prepare_head(p);
}

void Protocol::descend_prepare_tail(Packet& p) {
  if (Protocol* const below = lower()) below->prepare_tail(p);
}

ProtocolStatus Protocol::initialize() {
  if (Protocol* const below = lower()) {
    ProtocolStatus status = below->initialize();
    if (!status->success()) return status;
  }
  return local_initialize();
}

ProtocolsList::~ProtocolsList() {
  while (Protocol* const layer = m_layers.remove_from_tail()) {
    layer->m_owner = nullptr;
    delete layer;
  }
}

Protocol* ProtocolsList::add_protocol_head(Protocol* layer) {
  m_layers.insert_to_head(layer);
  layer->m_owner = this;
  return layer;
}

Protocol* ProtocolsList::add_protocol_tail(Protocol* layer) {
  m_layers.insert_to_tail(layer);
  layer->m_owner = this;
  return layer;
}

Protocol* ProtocolsList::search(Protocol_name const& name) const {
  for (auto it = m_layers.begin(); it != m_layers.end(); ++it)
    if (it->compare_name(name)) return &*it;
  return nullptr;
}

void ProtocolsFamily::local_prepare_head(Packet& p) {
  if (Protocol* const t = top()) t->prepare_head(p);
}

void ProtocolsFamily::local_prepare_tail(Packet& p) {
  if (Protocol* const t = top()) t->prepare_tail(p);
}

ProtocolStatus ProtocolsFamily::local_initialize() {
  if (Protocol* const t = top()) return t->initialize();
  return ProtocolStatus(new Protocol_initialize_error(this));
}

void ProtocolsFamily::local_activate() {
  if (Protocol* const t = top()) t->activate();
}

void ProtocolsFamily::local_deactivate() {
  if (Protocol* const t = top()) t->deactivate();
}

void ProtocolsFamily::message(Packet& p) {
  if (Protocol* const t = top()) t->message(p);
}

void ProtocolsFamily::receive(Packet& p) {
  if (Protocol* const b = bottom()) b->receive(p);
}

void ProtocolsFamily::on_activated(Protocol* layer) {
  if (layer == top()) on_activate();
}

void ProtocolsFamily::on_deactivated(Protocol*, ProtocolStatus status) { on_deactivate(status); }
