#include "boardsim/model.h"

#include <charconv>
#include <sstream>
#include <sys/socket.h>

#include "boardsim/diag.h"
#include "boardsim/sim.h"

namespace BoardSim {

bool Model::Open::deliver(void const* record, std::size_t len) {
  ssize_t const sent = ::send(m_end.lowlevel_fd(), record, len, MSG_DONTWAIT | MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(len)) return true;
  Errno const error;
  std::ostringstream line;
  line << "boardsim: " << m_model->path() << " event of " << len << " bytes not delivered: " << error;
  diag(line.str());
  return false;
}

Model::Answer Model::command(std::string_view verb, std::vector<std::string> const&) {
  return {{}, m_path + " has no " + std::string(verb)};
}

std::optional<std::uint32_t> Model::number(std::string_view word, std::uint32_t max) {
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    word.remove_prefix(2);
  }
  std::uint32_t value = 0;
  auto const [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (word.empty() || error != std::errc() || end != word.data() + word.size() || value > max) return std::nullopt;
  return value;
}

std::unique_lock<std::mutex> Model::lock() const { return m_sim->enter(); }

}  // namespace BoardSim
