#pragma once
// Layered protocol stacks. A layer is a Protocol; a ProtocolsList owns its layers, bottom
// first; a ProtocolsFamily is a stack that is itself one layer of an outer stack. Data
// goes down through message/transmit and up through receive/on_message. Activation starts
// at the bottom and is confirmed upward; a deactivation entered at the top runs down,
// while a failure found low in the stack travels up unchanged, so the owner hears of
// either exactly once. Reports are synchronous: the owner may be called while the call
// that caused the report is still on the stack.

#include <ostream>
#include <string>

#include "foundation/dual_list.h"
#include "foundation/packet.h"
#include "foundation/smart_pointer.h"

class Protocol_name {
public:
  virtual ~Protocol_name() = default;
  virtual int kind() const = 0;
  virtual char const* name() const = 0;
  virtual bool compare(Protocol_name const& other) const = 0;
  bool compatible(Protocol_name const& other) const { return kind() == other.kind(); }
  void out(std::ostream& os) const { os << name(); }
};

class Protocol_name_null : public Protocol_name {
public:
  int kind() const override { return 0; }
  char const* name() const override { return "(no name)"; }
  bool compare(Protocol_name const& other) const override { return compatible(other); }
};

class Protocol_name_str : public Protocol_name {
public:
  explicit Protocol_name_str(char const* text) : m_text(text ? text : "(no name)") {}
  int kind() const override { return 1; }
  char const* name() const override { return m_text.c_str(); }
  bool compare(Protocol_name const& other) const override;

private:
  std::string m_text;
};

std::ostream& operator<<(std::ostream& os, Protocol_name const& name);

class Protocol_info {
public:
  virtual ~Protocol_info() = default;
  virtual bool compare_name(Protocol_name const&) const { return false; }
  virtual Protocol_name const& name() const { return m_null_name; }
  void out(std::ostream& os) const { name().out(os); }

private:
  Protocol_name_null m_null_name;
};

std::ostream& operator<<(std::ostream& os, Protocol_info const& info);

// A report of a layer, shared by reference count along the stack.
class Internal_protocol_status {
public:
  explicit Internal_protocol_status(Protocol_info const* layer) : m_layer(layer) {}
  Internal_protocol_status(Internal_protocol_status const&) = delete;
  Internal_protocol_status& operator=(Internal_protocol_status const&) = delete;
  virtual ~Internal_protocol_status() = default;
  virtual bool success() const = 0;
  virtual std::string message() const = 0;
  virtual void out(std::ostream& os) const = 0;
  Protocol_info const* layer() const { return m_layer; }

private:
  template <class>
  friend class Smart_pointer;
  Protocol_info const* m_layer;
  unsigned m_refcount = 0;
};

using ProtocolStatus = Smart_pointer<Internal_protocol_status>;

class Protocol_status_success : public Internal_protocol_status {
public:
  Protocol_status_success(Protocol_info const* layer, std::string text)
      : Internal_protocol_status(layer), m_text(std::move(text)) {}
  bool success() const override { return true; }
  std::string message() const override { return m_text; }
  void out(std::ostream& os) const override { os << m_text; }

private:
  std::string m_text;
};

class Protocol_status_error : public Internal_protocol_status {
public:
  Protocol_status_error(Protocol_info const* layer, std::string text)
      : Internal_protocol_status(layer), m_text(std::move(text)) {}
  bool success() const override { return false; }
  std::string message() const override { return m_text; }
  void out(std::ostream& os) const override { os << m_text; }

private:
  std::string m_text;
};

class Protocol_initialize_error : public Protocol_status_error {
public:
  explicit Protocol_initialize_error(Protocol_info const* layer) : Protocol_status_error(layer, "error") {}
};

class ProtocolsList;

class Protocol : public Protocol_info, public F_dual_list_item<Protocol> {
public:
  Protocol() = default;
  Protocol(Protocol const&) = delete;
  Protocol& operator=(Protocol const&) = delete;
  ~Protocol() override;

  virtual void local_prepare_head(Packet& p) { p.reserve_head(0); }
  virtual void local_prepare_tail(Packet& p) { p.reserve_tail(0); }
  virtual ProtocolStatus local_initialize();
  virtual void local_activate() { on_activate(); }
  virtual void local_deactivate();
  virtual void transmit(Packet& p);
  virtual void on_message(Packet& p);
  virtual void on_activate();
  virtual void on_deactivate(ProtocolStatus status);
  virtual void on_status(ProtocolStatus status);
  virtual void message(Packet&) {}
  virtual void receive(Packet&) {}
  virtual void activate();
  virtual void deactivate() { local_deactivate(); }
  virtual void protocol_info(std::ostream&) {}

  void prepare_head(Packet& p);
  void prepare_tail(Packet& p);
  ProtocolStatus initialize();

  Protocol* upper() const { return get_next(); }
  Protocol* lower() const { return get_prev(); }
  ProtocolsList* owner() const { return m_owner; }

protected:
  void descend_prepare_head(Packet& p);
  void descend_prepare_tail(Packet& p);

private:
  friend class ProtocolsList;
  ProtocolsList* m_owner = nullptr;
};

class ProtocolsList : public Protocol {
public:
  ProtocolsList() = default;
  ~ProtocolsList() override;

  virtual void on_activated(Protocol*) {}
  virtual void on_deactivated(Protocol*, ProtocolStatus) {}
  virtual Protocol* add_protocol_head(Protocol* layer);
  virtual Protocol* add_protocol_tail(Protocol* layer);

  Protocol* search(Protocol_name const& name) const;

protected:
  Protocol* bottom() const { return m_layers.head(); }
  Protocol* top() const { return m_layers.tail(); }

private:
  friend class Protocol;
  F_dual_list<Protocol> m_layers;
};

class ProtocolsFamily : public ProtocolsList {
public:
  void local_prepare_head(Packet& p) override;
  void local_prepare_tail(Packet& p) override;
  ProtocolStatus local_initialize() override;
  void local_activate() override;
  void local_deactivate() override;
  void message(Packet& p) override;
  void receive(Packet& p) override;
  void on_activated(Protocol* layer) override;
  void on_deactivated(Protocol* layer, ProtocolStatus status) override;
};
