#include "tests/e2e/checks.h"

#include <algorithm>

namespace e2e {

void answered(Controller& c, test::Failures& f, LGCP::Message const& m, std::string const& what, int cause) {
  c.send(m);
  auto const r = c.response(m.get_seq().getValue());
  if (cause < 0)
    f.check(r && is_success(*r), what + ": success");
  else
    f.check(r && error_of(*r) == cause, what + ": error " + std::to_string(cause));
}

std::string next_stream(Controller& c, int slot) {
  auto const s = c.signal([slot](LGCP::Message const& m) {
    int const kind = m.get_pdu().get_signal().currentSelection();
    return (kind == LGCP::Signal::transmitter::id || kind == LGCP::Signal::receiver::id) && m.slot_isPresent() &&
           static_cast<int>(m.get_slot().getValue()) == slot;
  });
  if (!s) return "none";
  LGCP::Signal const& signal = s->get_pdu().get_signal();
  bool const transmitter = signal.transmitter_isSelected();
  LGCP::Stream const& stream = transmitter ? signal.get_transmitter() : signal.get_receiver();
  return std::string(transmitter ? "transmitter " : "receiver ") +
         (stream.active_isSelected() ? std::to_string(stream.get_active().getValue()) : "inactive");
}

bool in_order(std::vector<std::string> const& lines, std::vector<std::string> const& wanted) {
  auto at = lines.begin();
  for (std::string const& w : wanted) {
    at = std::find(at, lines.end(), w);
    if (at == lines.end()) return false;
    ++at;
  }
  return true;
}

}  // namespace e2e
