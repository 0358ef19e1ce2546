#include "boardsim/control.h"

#include <sstream>

#include "boardsim/sim.h"
#include "foundation/board_io.h"

namespace BoardSim {

namespace {

using Lines = std::vector<std::string>;

std::vector<std::string> split(std::string_view line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
    std::size_t const end = std::min(line.find_first_of(" \t", at), line.size());
    words.emplace_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

std::string joined(std::vector<std::string> const& words, std::size_t first, std::size_t end) {
  std::string text;
  for (std::size_t i = first; i < end; ++i) {
    if (i > first) text += ' ';
    text += words[i];
  }
  return text;
}

std::string device_path(std::string const& word) { return word.starts_with('/') ? word : "/dev/" + word; }

Lines ok(Lines lines = {}) {
  lines.emplace_back("ok");
  return lines;
}

Lines error(std::string const& text) { return {"error " + text}; }

Lines log_lines(Sim& sim, std::vector<std::string> const& words) {
  std::string const device = words.size() > 1 ? device_path(words[1]) : std::string();
  Sim::LogView const view = sim.log(device, joined(words, 2, words.size()));
  Lines lines;
  lines.reserve(view.entries.size() + 2);
  std::ostringstream text;
  for (Request const& request : view.entries) {
    text.str("");
    text << request;
    lines.push_back(text.str());
  }
  lines.push_back("dropped " + std::to_string(view.dropped));
  return ok(std::move(lines));
}

Lines model_command(Sim& sim, std::string const& device, std::string_view verb, std::vector<std::string> args) {
  Model::Answer answer = sim.command(device_path(device), verb, args);
  if (!answer.error.empty()) return error(answer.error);
  return ok(std::move(answer.lines));
}

Lines fail(Sim& sim, std::vector<std::string> const& words) {
  if (words.size() < 5) return error("usage: fail <device> <request> <errno> once|always");
  std::string const& repeat = words.back();
  if (repeat != "once" && repeat != "always") return error("repeat is once or always, not " + repeat);
  int const error_number = errno_value(words[words.size() - 2]);
  if (!error_number) return error("no errno " + words[words.size() - 2]);
  sim.fail(device_path(words[1]), joined(words, 2, words.size() - 2), error_number,
           repeat == "once" ? Repeat::once : Repeat::always);
  return ok();
}

Lines deliver(Sim& sim, std::vector<std::string> const& words) {
  if (words.size() < 3) return error("usage: deliver <device> <hex bytes>");
  std::string record;
  for (std::size_t i = 2; i < words.size(); ++i)
    if (!hex_bytes(words[i], record)) return error("not hex bytes: " + words[i]);
  std::string const device = device_path(words[1]);
  if (!sim.deliver(device, record.data(), record.size())) return error("not delivered to " + device + ": no open of it, or its queue is full");
  return ok();
}

}  // namespace

std::vector<std::string> control_command(Sim& sim, std::string_view line) {
  std::vector<std::string> const words = split(line);
  if (words.empty()) return error("empty command");
  std::string const& verb = words[0];
  if (verb == "log") return log_lines(sim, words);
  if (verb == "clear") {
    if (words.size() != 1) return error("usage: clear");
    sim.clear_requests();
    return ok();
  }
  if (verb == "state" || verb == "set") {
    if (words.size() < 2) return error("usage: " + verb + " <device> ...");
    return model_command(sim, words[1], verb, {words.begin() + 2, words.end()});
  }
  if (verb == "fail") return fail(sim, words);
  if (verb == "clear-faults") {
    if (words.size() != 1) return error("usage: clear-faults");
    sim.clear_faults();
    return ok();
  }
  if (verb == "deliver") return deliver(sim, words);
  if (verb == "watchdog") {
    if (words.size() != 1) return error("usage: watchdog");
    return model_command(sim, Board::kWatchdog, "state", {});
  }
  return error("unknown command " + verb);
}

}  // namespace BoardSim
