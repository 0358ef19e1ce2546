#include "boardsim/rtp.h"

#include <cerrno>
#include <cstring>

#include "foundation/board_io.h"

namespace BoardSim {

namespace {

bool by_value(unsigned long request) {
  switch (request) {
    case Board::RTP_TEARDOWN_1:
    case Board::RTP_TEARDOWN_2:
    case Board::RTP_TEARDOWN_3:
    case Board::RTP_TX_START:
    case Board::RTP_TX_STOP: return true;
    default: return false;
  }
}

std::string field(char const* name, long long value) { return std::string(name) + '=' + std::to_string(value); }

// The address word stays in network order: its bytes are the dotted address.
std::string endpoint(std::uint32_t address, std::uint16_t port) {
  unsigned char bytes[4];
  std::memcpy(bytes, &address, sizeof bytes);
  return std::to_string(bytes[0]) + '.' + std::to_string(bytes[1]) + '.' + std::to_string(bytes[2]) + '.' +
         std::to_string(bytes[3]) + ':' + std::to_string(port);
}

std::string ends_text(Board::rtp_connection_params const& p) {
  return "dst=" + endpoint(p.dst_addr, p.dst_port) + " src=" + endpoint(p.src_addr, p.src_port);
}

std::string begin_text(Board::rtp_connection_params const& p) {
  return ends_text(p) + ' ' + field("rx_pt", p.rx_pt) + ' ' + field("tx_pt", p.tx_pt) + ' ' +
         field("pf", p.packet_factor) + ' ' + field("vad", p.vad) + ' ' + field("crate", p.crate) + ' ' +
         field("ssrc", p.ssrc) + ' ' + field("ttl", p.ttl) + ' ' + field("tos", p.tos);
}

bool pd_pattern(Board::rtp_pd_params const& r) {
  Board::rtp_pd_params const expected = Board::pd_params(r.words[2]);
  return std::memcmp(&r, &expected, sizeof r) == 0;
}

}  // namespace

Rtp::Rtp() : EventDevice(Board::kRtp) {}

std::unique_ptr<Model::Open> Rtp::make_open() { return std::make_unique<Session>(); }

int Rtp::open(Open& open, int flags) {
  ++m_sessions;
  return EventDevice::open(open, flags);
}

void Rtp::close(Open& open) {
  auto& session = static_cast<Session&>(open);
  if (session.channel >= 0) m_holders[static_cast<std::size_t>(session.channel - kFirstChannel)] = nullptr;
  --m_sessions;
  EventDevice::close(open);
}

char const* Rtp::request_name(unsigned long request) const {
  switch (request) {
    case Board::RTP_BEGIN_SESSION: return "begin";
    case Board::RTP_ADD_CHANNEL: return "add-channel";
    case Board::RTP_TEARDOWN_1: return "teardown-1";
    case Board::RTP_TEARDOWN_2: return "teardown-2";
    case Board::RTP_TEARDOWN_3: return "teardown-3";
    case Board::RTP_TX_START: return "tx-start";
    case Board::RTP_TX_STOP: return "tx-stop";
    case Board::RTP_ATTACH_SESSION: return "attach";
    case Board::RTP_SET_EVENT_PD: return "pd-set";
    case Board::RTP_RESET_EVENT_PD: return "pd-reset";
    default: return nullptr;
  }
}

std::string Rtp::decode(unsigned long request, void const* arg) const {
  switch (request) {
    case Board::RTP_BEGIN_SESSION: return begin_text(record_at<Board::rtp_connection_params>(arg));
    case Board::RTP_ADD_CHANNEL: {
      auto const r = record_at<Board::rtp_channel_info>(arg);
      return field("tdm", r.tdm) + ' ' + field("dev_no", r.dev_no) + ' ' + field("chn", r.chn);
    }
    case Board::RTP_ATTACH_SESSION: {
      auto const r = record_at<Board::rtp_attach_session_params>(arg);
      return field("fd", r.fd_rtp) + ' ' + field("pid", r.pid_rtp);
    }
    case Board::RTP_SET_EVENT_PD: {
      auto const r = record_at<Board::rtp_pd_params>(arg);
      if (pd_pattern(r)) return field("timeout", r.words[2]);
      std::string text = "words=";
      // Appended step by step: g++ 12 sees a false overlap (-Wrestrict) in the one-line form.
      for (std::size_t i = 0; i < std::size(r.words); ++i) {
        if (i) text += ',';
        text += std::to_string(r.words[i]);
      }
      return text;
    }
    case Board::RTP_RESET_EVENT_PD: return field("value", record_at<std::int32_t>(arg));
    default: return {};
  }
}

std::string Rtp::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::RTP_ADD_CHANNEL) return {};
  return field("got", record_at<Board::rtp_channel_info>(arg).tdm);
}

Rtp::Session* Rtp::holder(int channel) const {
  if (channel < kFirstChannel || channel >= kFirstChannel + kChannels) return nullptr;
  return m_holders[static_cast<std::size_t>(channel - kFirstChannel)];
}

int Rtp::add_channel(Session& session, Board::rtp_channel_info& info) {
  if (session.channel >= 0) return EINVAL;
  int channel = info.tdm;
  if (channel == -1) {
    channel = kFirstChannel;
    while (channel < kFirstChannel + kChannels && holder(channel)) ++channel;
    if (channel == kFirstChannel + kChannels) return ENOSPC;
  } else if (channel < kFirstChannel || channel >= kFirstChannel + kChannels) {
    return EINVAL;
  } else if (holder(channel)) {
    return EBUSY;
  }
  m_holders[static_cast<std::size_t>(channel - kFirstChannel)] = &session;
  session.channel = channel;
  info.tdm = channel;
  return 0;
}

int Rtp::ioctl(Open& open, unsigned long request, void* arg) {
  if (by_value(request)) return EINVAL;
  auto& session = static_cast<Session&>(open);
  switch (request) {
    case Board::RTP_BEGIN_SESSION:
      if (session.begun) return EINVAL;
      session.params = record_at<Board::rtp_connection_params>(arg);
      session.begun = true;
      return 0;
    case Board::RTP_ATTACH_SESSION: return 0;
    case Board::RTP_RESET_EVENT_PD:
      if (record_at<std::int32_t>(arg) != 1 || !session.begun) return EINVAL;
      session.pd.reset();
      return 0;
    default: break;
  }
  if (!session.begun) return EINVAL;
  if (request == Board::RTP_ADD_CHANNEL) {
    auto info = record_at<Board::rtp_channel_info>(arg);
    if (int const error = add_channel(session, info)) return error;
    std::memcpy(arg, &info, sizeof info);
    return 0;
  }
  // RTP_SET_EVENT_PD: the one request left.
  auto const pd = record_at<Board::rtp_pd_params>(arg);
  if (!pd_pattern(pd)) return EINVAL;
  session.pd = pd.words[2];
  return 0;
}

int Rtp::ioctl_value(Open& open, unsigned long request, unsigned long value) {
  // A value is no address of a record.
  if (!by_value(request)) return EFAULT;
  if (value != 0) return EINVAL;
  auto& session = static_cast<Session&>(open);
  if (request == Board::RTP_TX_START || request == Board::RTP_TX_STOP) {
    if (!session.begun) return EINVAL;
    session.transmitting = request == Board::RTP_TX_START;
  }
  return 0;
}

Model::Answer Rtp::state(std::vector<std::string> const& args) const {
  if (args.empty()) {
    std::string channels;
    for (int channel = kFirstChannel; channel < kFirstChannel + kChannels; ++channel) {
      if (!holder(channel)) continue;
      if (!channels.empty()) channels += ',';
      channels += std::to_string(channel);
    }
    return {{field("sessions", m_sessions) + " channels=" + channels}, {}};
  }
  auto const channel = args.size() == 1 ? number(args[0], INT32_MAX) : std::nullopt;
  if (!channel) return {{}, "usage: state rtp [<channel>]"};
  Session const* const session = holder(static_cast<int>(*channel));
  if (!session) return {{}, "no session holds channel " + args[0]};
  Board::rtp_connection_params const& p = session->params;
  return {{field("channel", session->channel) + ' ' + ends_text(p) + ' ' + field("rx_pt", p.rx_pt) + ' ' +
           field("tx_pt", p.tx_pt) + ' ' + field("ssrc", p.ssrc) + " transmitting=" +
           (session->transmitting ? "yes" : "no") + " pd=" + (session->pd ? std::to_string(*session->pd) : "off")},
          {}};
}

Model::Answer Rtp::queue_event(std::vector<std::string> const& args) {
  std::optional<std::uint32_t> words[4];
  for (std::size_t i = 1; i < args.size() && i <= 4; ++i) words[i - 1] = word(args[i]);
  if (args.size() != 5 || args[0] != "event" || !words[0] || !words[1] || !words[2] || !words[3])
    return {{}, "usage: set rtp event <channel> <type> <value> <timeout>"};
  Session* const session = holder(static_cast<int>(*words[0]));
  if (!session) return {{}, "no session holds channel " + args[1]};
  Board::rtp_event event{*words[1], *words[2], *words[3], {}};
  if (!session->deliver(&event, sizeof event)) return {{}, "not delivered to " + path() + ": its queue is full"};
  return {};
}

Model::Answer Rtp::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") return state(args);
  if (verb == "set") return queue_event(args);
  return Model::command(verb, args);
}

}  // namespace BoardSim
