// The RTP factory, and an RTP slot's create and destroy.

#include "slots/rtp/rtp_slot.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <iostream>

#include "foundation/board_io.h"
#include "foundation/ext.h"
#include "hardware/device_names.h"
#include "hardware/hw_mux.h"
#include "slots/rtp/ssrc.h"

namespace {

// What the SDES says of the session's source.
char const kCanonicalName[] = "Korvent Tessaline";
char const kSupportEmail[] = "support@korvent-tessaline.example";
char const kSupportPhone[] = "+1 555 0100";

// The codec masks of the capacity request, in the order the counters are asked.
constexpr std::uint32_t kG729Mask = 4;
constexpr std::uint32_t kG723Mask = 2;
constexpr std::uint32_t kG711Mask = 1;
constexpr std::uint32_t kG711MccMask = 8;
constexpr std::uint32_t kUniversalMask = 65;

bool accepted(TERM::Payload::NamedNumber payload) {
  switch (payload) {
    case TERM::Payload::ptG711_Alaw:
    case TERM::Payload::ptG711_Ulaw:
    case TERM::Payload::ptG723:
    case TERM::Payload::ptG729:
    case TERM::Payload::ptG711mcc_Alaw:
    case TERM::Payload::ptG711mcc_Ulaw:
    case TERM::Payload::ptG728: return true;
    default: return false;
  }
}

bool is_g711(TERM::Payload::NamedNumber payload) {
  return payload == TERM::Payload::ptG711_Alaw || payload == TERM::Payload::ptG711_Ulaw;
}

// The RTCP port beside an RTP port, in 16-bit arithmetic: 65535 gives 0.
std::uint16_t rtcp_port(unsigned rtp_port) { return static_cast<std::uint16_t>(rtp_port + 1); }

}  // namespace

// --- the slot --------------------------------------------------------------------------

RtpSlot::RtpSlot(int channel, Fd rtp, Board::rtp_connection_params const& params)
    : channel(channel), rtp(std::move(rtp)), params(params), lbrcPayload(params.rx_pt) {
  rtpEvent.Bind("RtpSlot::OnRtpEvent", &RtpSlot::OnRtpEvent, this);
  rtpEvent.Schedule(this->rtp, POLLIN);
}

RtpSlot::~RtpSlot() {
  send(RTPC::BYE(params.ssrc, "session end"));
  rtcp.close();
  if (!holdsChannel) return;
  Hardware::TonecReceiver::CleanBeforeDestroy();
  Hardware::DSProcReceiver::CleanBeforeDestroy();
}

void RtpSlot::PutHeader(std::ostream& os) const { os << "rtp[" << std::dec << channel << "]: "; }

void RtpSlot::startRTPC(Fd& socket, sockaddr_in const& peer) {
  rtcp = std::move(socket);
  rtcpPeer = peer;
  RTPC::SDES sdes(params.ssrc);
  sdes.add(RTPC::SDES::Item::CNAME, kCanonicalName);
  sdes.add(RTPC::SDES::Item::EMAIL, kSupportEmail);
  sdes.add(RTPC::SDES::Item::PHONE, kSupportPhone);
  send(sdes);
}

void RtpSlot::send(RTPC::Msg const& msg) {
  char buf[1024];
  unsigned const length = msg.encode(buf, sizeof buf);
  if (length == 0) return;
  ::sendto(rtcp.lowlevel_fd(), buf, length, MSG_DONTWAIT, reinterpret_cast<sockaddr const*>(&rtcpPeer),
           sizeof rtcpPeer);
}

void RtpSlot::IAfterCreate() {
  OnChangeOutputStream(true);
  OnChangeInputStream(true);
}

bool RtpSlot::IBeforeDestroy() {
  int const fd = rtp.lowlevel_fd();
  Board::io().ioctl_value(fd, Board::RTP_TEARDOWN_1, 0);
  Board::io().ioctl_value(fd, Board::RTP_TEARDOWN_2, 0);
  Board::io().ioctl_value(fd, Board::RTP_TEARDOWN_3, 0);
  std::int32_t one = 1;
  Board::io().ioctl(fd, Board::RTP_RESET_EVENT_PD, &one);
  // The watch holds a descriptor of the session too: the session closes with both.
  rtpEvent.Release();
  rtp.close();
  if (holdsChannel) HwMux::instance().Disable(channel);
  return true;
}

// --- the factory -----------------------------------------------------------------------

RtpFactory& RtpFactory::instance() {
  static RtpFactory factory;
  return factory;
}

RtpFactory::RtpFactory() { IQuery(); }

void RtpFactory::PutHeader(std::ostream& os) const {
  os << "rtp[" << std::dec << g723 << ',' << g729 << ',' << g711 << ',' << universal << "]: ";
}

void RtpFactory::IQuery() {
  g729 = g723 = g711 = g711mcc = universal = 0;
  Fd voice(Board::io().open(GetVoiceDevName(), O_RDONLY));
  if (!voice) {
    Errno const error;
    std::cerr << ext::header(this) << "device " << ext::quoted(GetVoiceDevName()) << " open fail: " << error
              << std::endl;
    return;
  }
  struct Family {
    std::uint32_t mask;
    std::uint32_t& count;
  };
  for (Family family : {Family{kG729Mask, g729}, Family{kG723Mask, g723}, Family{kG711Mask, g711},
                        Family{kG711MccMask, g711mcc}, Family{kUniversalMask, universal}}) {
    Board::VoiceCodecMask mask{family.mask};
    int const channels = Board::io().ioctl(voice.lowlevel_fd(), Board::VOICE_CODEC_CAPACITY, &mask);
    if (channels > 0) family.count = static_cast<std::uint32_t>(channels);
  }
}

void RtpFactory::Query(LGCP::Resources& resources) {
  IQuery();
  resources.set_rtp_g729(static_cast<int>(g729));
  resources.set_rtp_g723(static_cast<int>(g723));
  resources.set_rtp_g711(static_cast<int>(g711));
  resources.set_rtp_g711mcc(static_cast<int>(g711mcc));
  resources.set_universal(static_cast<int>(universal));
}

unsigned RtpFactory::translateCodec(TERM::Payload::NamedNumber payload) {
  switch (payload) {
    case TERM::Payload::ptG711_Alaw: return 8;
    case TERM::Payload::ptG723: return 4;
    case TERM::Payload::ptG729: return 18;
    case TERM::Payload::ptG711mcc_Alaw: return 136;
    case TERM::Payload::ptG711mcc_Ulaw: return 128;
    case TERM::Payload::ptG728: return 15;
    default: return 0;
  }
}

unsigned RtpFactory::translateCodec(TERM::Payload::NamedNumber payload, TERM::Payload::NamedNumber other) {
  return translateCodec(other != payload && is_g711(other) ? other : payload);
}

Board::rtp_connection_params RtpFactory::connectionParams(LGCP::CreateRtpParams const& create) {
  TERM::RtpParams const& codec = create.get_codecRTP();
  TERM::Payload::NamedNumber const payload = codec.get_payload();
  TERM::HostAddress const& dhost = codec.get_dhost();
  Board::rtp_connection_params record{};
  record.dst_addr = ::inet_addr(dhost.get_iaddr().c_str());
  record.dst_port = static_cast<std::uint16_t>(dhost.get_port().getValue());
  if (codec.shost_isPresent()) {
    record.src_addr = ::inet_addr(codec.get_shost().get_iaddr().c_str());
    record.src_port = static_cast<std::uint16_t>(codec.get_shost().get_port().getValue());
  } else {
    record.src_port = record.dst_port;
  }
  record.rx_pt = static_cast<std::uint16_t>(translateCodec(payload, create.get_rxPayload()));
  record.tx_pt = static_cast<std::uint16_t>(translateCodec(payload, create.get_txPayload()));
  if (codec.pfactor_isPresent()) record.packet_factor = static_cast<std::uint16_t>(codec.get_pfactor().getValue());
  record.vad = codec.vad_isPresent() && codec.get_vad();
  record.crate = codec.crate_isPresent() && codec.get_crate().getValue() != 0;
  record.ssrc = codec.ssrc_isPresent() ? codec.get_ssrc().getValue() : RtpSsrc::next();
  record.ttl = codec.ttl_isPresent() ? codec.get_ttl().getValue() : 0;
  record.tos = codec.qos_dscp_isPresent() ? (static_cast<int>(codec.get_qos_dscp()) & 63) * 4 : -1;
  return record;
}

Slot* RtpFactory::INewSlot(LGCP::CreateParams const& create) {
  if (!create.rtp_isSelected() || create.get_rtp().get_codecRTP().radio_isPresent()) return nullptr;
  LGCP::CreateRtpParams const& rtpParams = create.get_rtp();
  TERM::RtpParams const& codec = rtpParams.get_codecRTP();
  std::clog << ext::header(this) << "do create rtp: " << codec << std::endl;
  if (!accepted(codec.get_payload())) {
    std::clog << ext::header(this) << "rtp do not created: payload " << codec.get_payload() << "not found" << std::endl;
    return nullptr;
  }

  Fd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP));
  if (!socket) {
    RtpErr const error(-1);
    std::clog << ext::header(this) << "rtp do not created: can not create socket [errno=" << error << "]" << std::endl;
    return nullptr;
  }
  int const on = 1;
  ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  // Nothing reads this socket: the far end's reports would fill a whole buffer per channel.
  int const least = 0;  // raised by the kernel to its floor
  ::setsockopt(socket.lowlevel_fd(), SOL_SOCKET, SO_RCVBUF, &least, sizeof least);
  unsigned const port = codec.shost_isPresent() ? codec.get_shost().get_port().getValue()
                                                : codec.get_dhost().get_port().getValue();
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = htons(rtcp_port(port));
  if (::bind(socket.lowlevel_fd(), reinterpret_cast<sockaddr const*>(&local), sizeof local) != 0) {
    RtpErr const error(-1);
    std::clog << ext::header(this) << "rtp do not created: can not bind socket [errno=" << error
              << ", port=" << rtcp_port(port) << "]" << std::endl;
    return nullptr;
  }

  Fd session(Board::io().open(GetRtpDevName(), O_RDONLY));
  if (!session) {
    Errno const error;
    std::cerr << ext::header(this) << "device " << ext::quoted(GetRtpDevName()) << " open fail: " << error
              << std::endl;
    return nullptr;
  }
  Board::rtp_connection_params record = connectionParams(rtpParams);
  if (Board::io().ioctl(session.lowlevel_fd(), Board::RTP_BEGIN_SESSION, &record) < 0) {
    std::cerr << ext::header(this) << "begin session fail !!! " << std::endl;
    return nullptr;
  }
  Board::rtp_channel_info info{-1, -1, -1, 0};
  if (Board::io().ioctl(session.lowlevel_fd(), Board::RTP_ADD_CHANNEL, &info) < 0) {
    std::cerr << ext::header(this) << "add channel fail !!!" << std::endl;
    return nullptr;
  }

  auto* const slot = new RtpSlot(info.tdm, std::move(session), record);
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_addr.s_addr = record.dst_addr;
  peer.sin_port = htons(rtcp_port(codec.get_dhost().get_port().getValue()));
  slot->startRTPC(socket, peer);
  if (codec.echo_isPresent() && codec.get_echo().get_suppressor()) slot->echoCancel(codec.get_echo().get_canceller());
  return slot;
}
