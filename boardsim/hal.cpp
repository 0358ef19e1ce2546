#include "boardsim/hal.h"

#include <cstdio>
#include <cstring>

#include "boardsim/record_text.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

constexpr std::uint8_t kIdle = 0xff;

std::string port_text(char const* name, std::uint32_t port) {
  return std::string(name) + '=' + std::to_string(port);
}

}  // namespace

Hal::Hal() : Model(Board::kHal) {}

Hal::Output Hal::output(std::uint32_t port) const {
  auto const held = lock();
  return output_of(port);
}

std::uint8_t Hal::carries(std::uint32_t port) const {
  auto const held = lock();
  return carried(port);
}

void Hal::set_input(std::uint32_t port, std::uint8_t byte) {
  auto const held = lock();
  m_inputs[port] = byte;
}

Hal::Output Hal::output_of(std::uint32_t port) const {
  auto const found = m_outputs.find(port);
  return found == m_outputs.end() ? Output{} : found->second;
}

std::uint8_t Hal::carried(std::uint32_t port) const {
  // Each step follows one connection; more steps than connections means a loop.
  for (std::size_t steps = 0; steps <= m_outputs.size(); ++steps) {
    Output const state = output_of(port);
    if (state.kind == Output::Kind::byte) return static_cast<std::uint8_t>(state.value);
    if (state.kind != Output::Kind::input) {
      auto const input = m_inputs.find(port);
      return input == m_inputs.end() ? kIdle : input->second;
    }
    port = state.value;
  }
  return kIdle;
}

std::string Hal::state_text(std::uint32_t port) const {
  Output const state = output_of(port);
  std::string text = port_text("output", port) + ' ';
  switch (state.kind) {
    case Output::Kind::unset: text += "unset"; break;
    case Output::Kind::disabled: text += "disabled"; break;
    case Output::Kind::byte: text += "byte=" + byte_text(state.value); break;
    case Output::Kind::input: text += port_text("input", state.value); break;
  }
  return text + " carries=" + byte_text(carried(port));
}

char const* Hal::request_name(unsigned long request) const {
  switch (request) {
    case Board::HAL_MUX_CONNECT: return "connect";
    case Board::HAL_MUX_DISABLE: return "disable";
    case Board::HAL_MUX_WRITE: return "write";
    case Board::HAL_MUX_READ: return "read";
    default: return HalControl::request_name(request);
  }
}

std::string Hal::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::HAL_MUX_CONNECT: {
      auto const r = record_at<Board::MuxConnect>(arg);
      return port_text("output", r.output) + ' ' + port_text("input", r.input);
    }
    case Board::HAL_MUX_DISABLE: return port_text("output", record_at<Board::MuxDisable>(arg).output);
    case Board::HAL_MUX_WRITE: {
      auto const r = record_at<Board::MuxWrite>(arg);
      return port_text("output", r.output) + " byte=" + byte_text(r.byte);
    }
    case Board::HAL_MUX_READ: {
      auto const r = record_at<Board::MuxRead>(arg);
      return port_text("port", r.port) + " byte=" + byte_text(r.byte);
    }
    default: return HalControl::decode(request, arg);
  }
}

std::string Hal::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::HAL_MUX_READ) return {};
  return "got=" + byte_text(record_at<Board::MuxRead>(arg).byte);
}

int Hal::ioctl(Open&, unsigned long request, void* arg) {
  switch (request) {
    case Board::HAL_MUX_CONNECT: {
      auto const r = record_at<Board::MuxConnect>(arg);
      m_outputs[r.output] = {Output::Kind::input, r.input};
      return 0;
    }
    case Board::HAL_MUX_DISABLE:
      m_outputs[record_at<Board::MuxDisable>(arg).output] = {Output::Kind::disabled, 0};
      return 0;
    case Board::HAL_MUX_WRITE: {
      auto const r = record_at<Board::MuxWrite>(arg);
      if (r.byte > 0xff) return EINVAL;
      m_outputs[r.output] = {Output::Kind::byte, r.byte};
      return 0;
    }
    case Board::HAL_MUX_READ: {
      auto r = record_at<Board::MuxRead>(arg);
      // The daemon hands in 0xff; anything else is a record it did not fill.
      if (r.byte != kIdle) return EINVAL;
      r.byte = carried(r.port);
      std::memcpy(arg, &r, sizeof r);
      return 0;
    }
    default: {
      std::optional<long> result;
      int const error = m_control.ioctl(request, arg, result);
      if (!error && result) set_result(*result);
      return error;
    }
  }
}

// Every request carries a record; a bare value is no address of one.
int Hal::ioctl_value(Open&, unsigned long, unsigned long) { return EFAULT; }

Model::Answer Hal::command(std::string_view verb, std::vector<std::string> const& args) {
  if (auto answer = m_control.command(verb, args, &Hal::number)) return *answer;
  if (verb == "state") {
    auto const port = args.size() == 1 ? number(args[0]) : std::nullopt;
    if (!port) return {{}, "usage: state hal <port>"};
    return {{state_text(*port)}, {}};
  }
  if (verb == "set") {
    auto const port = args.size() == 2 ? number(args[0]) : std::nullopt;
    auto const byte = args.size() == 2 ? number(args[1], 0xff) : std::nullopt;
    if (!port || !byte) return {{}, "usage: set hal <port> <byte 0..255>"};
    m_inputs[*port] = static_cast<std::uint8_t>(*byte);
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
