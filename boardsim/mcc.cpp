#include "boardsim/mcc.h"

#include <cstring>

#include "boardsim/hal.h"
#include "boardsim/record_text.h"
#include "boardsim/request_log.h"
#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

std::string channel_text(Mcc::Channel const& c, std::uint64_t written) {
  return "port=" + std::to_string(c.port) + " mode=" + std::to_string(c.mode) + " size=" +
         std::to_string(c.packet_size) + " rx=" + std::to_string(c.rx_threshold) + " tx=" +
         std::to_string(c.tx_threshold) + " written=" + std::to_string(written);
}

std::string hex_text(std::string_view bytes) {
  static char const digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (char const c : bytes) {
    auto const byte = static_cast<unsigned char>(c);
    text += digits[byte >> 4];
    text += digits[byte & 15];
  }
  return text;
}

constexpr std::uint32_t kTransparentMode = 2;

}  // namespace

Mcc::Mcc(Hal const& hal) : Model(Board::kMccControl), m_hal(hal) {}

std::vector<Mcc::Channel> Mcc::channels() const {
  auto const held = lock();
  std::vector<Channel> list;
  for (auto const& [port, open] : m_ports) list.push_back(*open->channel);
  return list;
}

std::string Mcc::inject(std::uint32_t port, std::string_view frame) {
  auto const held = lock();
  return inject_held(port, frame);
}

std::string Mcc::inject_held(std::uint32_t port, std::string_view frame) {
  auto const found = m_ports.find(port);
  if (found == m_ports.end()) return "no channel on port " + std::to_string(port);
  ChannelOpen& open = *found->second;
  if (frame.size() > open.channel->packet_size)
    return "a frame of " + std::to_string(frame.size()) + " bytes is over the channel's packet size " +
           std::to_string(open.channel->packet_size);
  if (!open.deliver(frame.data(), frame.size())) return "not delivered: the channel's queue is full";
  return {};
}

std::unique_ptr<Model::Open> Mcc::make_open() { return std::make_unique<ChannelOpen>(); }

void Mcc::close(Open& open) {
  auto& closed = static_cast<ChannelOpen&>(open);
  if (!closed.channel) return;
  m_ports.erase(closed.channel->port);
  --m_used[kind_of(closed.channel->mode)];
}

Mcc::Kind Mcc::kind_of(std::uint32_t mode) {
  switch (mode) {
    case 1: return kBri;
    case 2: return kTransparent;
    default: return kData;
  }
}

std::uint32_t Mcc::free_of(Kind kind) const { return m_total[kind] > m_used[kind] ? m_total[kind] - m_used[kind] : 0; }

std::string Mcc::free_text() const {
  return "free data=" + std::to_string(free_of(kData)) + " bri=" + std::to_string(free_of(kBri)) +
         " transparent=" + std::to_string(free_of(kTransparent));
}

char const* Mcc::request_name(unsigned long request) const {
  switch (request) {
    case Board::MCC_ALLOCATE: return "MCC_ALLOCATE";
    case Board::MCC_TIMESLOT: return "MCC_TIMESLOT";
    case Board::MCC_CAPACITY: return "capacity";
    default: return nullptr;
  }
}

std::string Mcc::decode(unsigned long request, void const* arg) const {
  if (request != Board::MCC_ALLOCATE) return {};
  auto const r = record_at<Board::MccAllocate>(arg);
  return "mode=" + std::to_string(r.mode) + " size=" + std::to_string(r.packet_size) +
         " reserved=" + std::to_string(r.reserved) + " rx=" + std::to_string(r.rx_threshold) +
         " tx=" + std::to_string(r.tx_threshold);
}

std::string Mcc::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::MCC_CAPACITY) return {};
  auto const r = record_at<Board::MccCapacity>(arg);
  return "data=" + std::to_string(r.data) + " bri=" + std::to_string(r.bri) +
         " transparent=" + std::to_string(r.transparent);
}

int Mcc::allocate(ChannelOpen& open, void const* arg) {
  auto const r = record_at<Board::MccAllocate>(arg);
  if (r.mode > 3 || r.packet_size == 0 || r.packet_size > kMaxPacketSize || r.reserved != 0) return EINVAL;
  if (open.channel) return EBUSY;
  Kind const kind = kind_of(r.mode);
  if (free_of(kind) == 0) return ENOSPC;
  std::uint32_t port = kFirstPort;
  while (port < kFirstPort + kPortCount && m_ports.count(port)) ++port;
  if (port == kFirstPort + kPortCount) return ENOSPC;
  open.channel = Channel{port, r.mode, r.packet_size, r.rx_threshold, r.tx_threshold};
  m_ports[port] = &open;
  ++m_used[kind];
  return 0;
}

int Mcc::ioctl(Open& open, unsigned long request, void* arg) {
  switch (request) {
    case Board::MCC_ALLOCATE: return allocate(static_cast<ChannelOpen&>(open), arg);
    case Board::MCC_CAPACITY: {
      Board::MccCapacity const r{free_of(kData), free_of(kBri), free_of(kTransparent), 0};
      std::memcpy(arg, &r, sizeof r);
      return 0;
    }
    case Board::MCC_TIMESLOT: return EINVAL;  // it carries no record
    default: return ENOTTY;
  }
}

int Mcc::ioctl_value(Open& open, unsigned long request, unsigned long value) {
  if (request != Board::MCC_TIMESLOT) return EFAULT;  // a bare value is no address of a record
  auto const& channel = static_cast<ChannelOpen&>(open).channel;
  if (value != 0 || !channel) return EINVAL;
  set_result(channel->port);
  return 0;
}

int Mcc::write(Open& open, std::string_view data) {
  auto& channel_open = static_cast<ChannelOpen&>(open);
  auto const& writer = channel_open.channel;
  if (!writer) return EINVAL;
  bool const stream = writer->mode == kTransparentMode;
  if (!stream && data.size() > writer->packet_size) return EMSGSIZE;
  if (data.empty()) return 0;
  channel_open.written += data.size();
  if (channel_open.kept.size() < kKeptBytes)
    channel_open.kept.append(data.substr(0, kKeptBytes - channel_open.kept.size()));
  for (auto const& [port, reader] : m_ports) {
    Hal::Output const feed = m_hal.output_of(port);
    if (feed.kind != Hal::Output::Kind::input || feed.value != writer->port) continue;
    std::size_t const record = stream ? reader->channel->packet_size : data.size();
    for (std::size_t at = 0; at < data.size(); at += record) {
      std::string_view const piece = data.substr(at, record);
      if (!reader->deliver(piece.data(), piece.size())) break;
    }
  }
  return 0;
}

int Mcc::read(Open& open, std::size_t) { return static_cast<ChannelOpen&>(open).channel ? 0 : EINVAL; }

Model::Answer Mcc::state(std::vector<std::string> const& args) const {
  if (args.empty()) {
    Answer answer;
    for (auto const& [port, open] : m_ports) answer.lines.push_back(channel_text(*open->channel, open->written));
    answer.lines.push_back(free_text());
    return answer;
  }
  auto const port = args.size() == 1 || args.size() == 4 ? number(args[0]) : std::nullopt;
  std::optional<std::uint32_t> offset, count;
  if (args.size() == 4 && args[1] == "data") {
    offset = number(args[2]);
    count = number(args[3], kMaxDataAnswer);
  }
  if (!port || (args.size() == 4 && (!offset || !count)))
    return {{}, "usage: state mcc/ctl [<port> [data <offset> <count of at most 4096>]]"};
  auto const found = m_ports.find(*port);
  if (found == m_ports.end()) return {{}, "no channel on port " + args[0]};
  ChannelOpen const& open = *found->second;
  if (args.size() == 1) return {{channel_text(*open.channel, open.written)}, {}};
  std::string_view const kept = open.kept;
  return {{hex_text(*offset < kept.size() ? kept.substr(*offset, *count) : std::string_view())}, {}};
}

Model::Answer Mcc::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") return state(args);
  if (verb != "set") return Model::command(verb, args);
  if (!args.empty() && args[0] == "pool") {
    std::array<std::optional<std::uint32_t>, kKinds> totals;
    for (std::size_t i = 0; i < totals.size() && args.size() == 4; ++i) totals[i] = number(args[i + 1]);
    if (!totals[kData] || !totals[kBri] || !totals[kTransparent])
      return {{}, "usage: set mcc/ctl pool <data> <bri> <transparent>"};
    for (std::size_t i = 0; i < totals.size(); ++i) m_total[i] = *totals[i];
    return {};
  }
  auto const port = args.size() >= 2 && args[1] == "inject" ? number(args[0]) : std::nullopt;
  if (!port) return {{}, "usage: set mcc/ctl pool <data> <bri> <transparent> | set mcc/ctl <port> inject [<hex>]"};
  std::string frame;
  for (std::size_t i = 2; i < args.size(); ++i)
    if (!hex_bytes(args[i], frame)) return {{}, "not hex bytes: " + args[i]};
  return {{}, inject_held(*port, frame)};
}

}  // namespace BoardSim
