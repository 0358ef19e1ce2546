#include "tests/server/lgcp_messages.h"

namespace lgcp_test {

LGCP::Message command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill) {
  LGCP::Message message;
  if (seq >= 0) message.set_seq(seq);
  if (slot >= 0) message.set_slot(static_cast<unsigned>(slot));
  fill(message.set_pdu().select_command());
  return message;
}

bool is_success(LGCP::Message const& m) {
  return m.get_pdu().response_isSelected() && m.get_pdu().get_response().success_isSelected();
}

int error_of(LGCP::Message const& m) {
  if (!m.get_pdu().response_isSelected() || !m.get_pdu().get_response().error_isSelected()) return -1;
  return m.get_pdu().get_response().get_error().asInt();
}

}  // namespace lgcp_test
