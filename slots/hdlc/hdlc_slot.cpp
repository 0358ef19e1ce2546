#include "slots/hdlc/hdlc_slot.h"

#include <algorithm>
#include <iostream>
#include <new>
#include <vector>

#include "asn1/per_decoder.h"
#include "foundation/ext.h"
#include "foundation/trace_ctl.h"
#include "protocol/control_service.h"

namespace {

constexpr unsigned kHeaderSize = 3;  // address, control
// Free blocks that queued frames leave in the pool: the control link's reads, reassembly
// and sends and the channels' reads go on with them.
constexpr unsigned kPoolReserve = 64;
// A received package's encoded size beyond its body (length, alignment), and the
// signal's envelope with a margin: a batch is sent before it passes what a frame carries.
constexpr std::size_t kPackageOverhead = 4;
constexpr std::size_t kEnvelope = 64;
constexpr std::size_t kBatchLimit = Control::Service::kMaxMessage - kEnvelope;

bool tracing() { return traces.signalling.hdlc; }

// A block for a frame to queue, unless the pool is down to its reserve.
bool take_block(Packet& frame) {
  if (Packet::pool_free() <= kPoolReserve) return false;
  try {
    frame.reserve_head(0);
  } catch (std::bad_alloc const&) {
    return false;
  }
  return true;
}

}  // namespace

HdlcSlot::HdlcSlot(LGCP::HdlcParams const& params)
    : m_channel(new HDLC),
      m_trunk(static_cast<unsigned>(params.get_trunk().getValue())),
      m_address(static_cast<std::uint16_t>(params.get_address().getValue())) {
  m_channel->bind(this);
  m_channel->trunk(m_trunk);
  --m_trunk;
  m_channel->logLevel(static_cast<unsigned>(params.get_log().getValue()));
  if (tracing()) std::clog << ext::header(this) << "trunk=" << m_trunk << ", address=" << m_address << std::endl;
  m_update.set(this);
  m_response.select_hdlcPackages();
}

// The channel goes first; the queue, the timers and the pending response after it.
HdlcSlot::~HdlcSlot() { delete m_channel; }

void HdlcSlot::PutHeader(std::ostream& os) const { os << "HdlcSlot[" << std::dec << m_trunk << "/*]: "; }

bool HdlcSlot::IActivate(TERM::TermActivateParams const&) {
  if (tracing()) std::clog << ext::header(this) << "IActivate" << std::endl;
  iactivate();
  return true;
}

bool HdlcSlot::IDeactivate() {
  OnUpdateTimer();
  return true;
}

bool HdlcSlot::Ioctl(LGCP::IoctlParams const& params) {
  if (!params.hdlcPackages_isSelected()) return false;
  for (LGCP::HdlcPackage const& package : params.get_hdlcPackages()) {
    std::vector<char> const& body = package.get_body();
    auto const control = static_cast<std::uint8_t>(m_send << 5 | m_receive);
    ++m_send;
    // Closed by a read failure until activated again: the frame would wait for nothing.
    if (m_read_failed) {
      m_channel->discard();
      continue;
    }
    Packet frame;
    if (!take_block(frame)) {
      std::cerr << ext::header(this) << "no packet for a frame of " << body.size() + kHeaderSize << " bytes: dropped"
                << std::endl;
      m_channel->discard();
      continue;
    }
    frame.put16_b(m_address);
    frame.put8(control);
    if (!body.empty()) std::copy(body.begin(), body.end(), frame.put(static_cast<unsigned>(body.size())));
    if (tracing()) std::clog << ext::header(this) << "enqueue package: " << std::endl << ext::header(this) << frame << std::endl;
    transmitPacket(frame);
  }
  // The frames are on their way: the command succeeded.
  return true;
}

bool HdlcSlot::IHwConnectTransmitter(Slot& receiver) {
  if (tracing()) std::clog << ext::header(this) << "IHwConnectTransmitter" << std::endl;
  point_channel(receiver.GetReceiveChannel());
  return true;
}

bool HdlcSlot::IHwConnectReceiver(Slot& source) {
  if (tracing()) std::clog << ext::header(this) << "IHwConnectReceiver" << std::endl;
  point_channel(source.GetTransmitChannel());
  return true;
}

bool HdlcSlot::IHwDisconnectTransmitter(Slot& receiver) {
  if (tracing()) std::clog << ext::header(this) << "IHwDisconnectTransmitter" << std::endl;
  Slot::IHwDisconnectTransmitter(receiver);
  m_channel->deactivate();
  return true;
}

bool HdlcSlot::IHwDisconnectReceiver(Slot& source) {
  if (tracing()) std::clog << ext::header(this) << "IHwDisconnectReceiver" << std::endl;
  source.Slot::IHwDisconnectReceiver(*this);
  m_channel->deactivate();
  return true;
}

void HdlcSlot::point_channel(int tdm) {
  HDLC::Params params = m_channel->params();
  params.tdm = tdm;
  params.type = 1;
  m_channel->params(params);
  if (tdm != -1) iactivate();
}

void HdlcSlot::iactivate() {
  if (tracing()) std::clog << ext::header(this) << "Try to activate HDCL, params.tdm = " << m_channel->params().tdm << std::endl;
  m_read_failed = false;
  if (!m_channel->activate()) {
    OnDeactivated();
  } else if (tracing()) {
    std::clog << ext::header(this) << "HDLC activated successfully" << std::endl;
  }
}

void HdlcSlot::transmitPacket(Packet& frame) {
  m_queue.put(frame);  // a full queue drops the frame
  if (!m_queue.empty() && m_channel->is_ready()) on_hdlc_ready();
}

void HdlcSlot::on_hdlc_ready() {
  Packet frame;
  while (m_queue.preview(&frame)) {
    if (!m_channel->hdlc_transmit(frame)) {
      // Closed or full: the frame waits. Refused by a channel that stays open and ready:
      // it never goes, and held at the head it would stop every frame behind it.
      if (!m_channel->is_open() || !m_channel->is_ready()) return;
      m_queue.get(frame);
      std::cerr << ext::header(this) << "frame of " << frame.length() << " bytes refused by the channel: dropped"
                << std::endl;
      continue;
    }
    m_queue.get(frame);
    if (tracing()) std::clog << ext::header(this) << "on_hdlc_ready" << std::endl << ext::header(this) << frame << std::endl;
  }
}

void HdlcSlot::on_hdlc_receive(Packet& frame) {
  if (tracing()) std::clog << ext::header(this) << "on_hdlc_receive" << std::endl << ext::header(this) << frame << std::endl;
  if (frame.length() < kHeaderSize) {
    std::cerr << ext::header(this) << "frame of " << frame.length() << " bytes without a link header: dropped"
              << std::endl;
    return;
  }
  enqResponce(frame);
  // Bit 7 of the body's second byte announces more frames; a shorter body announces none.
  bool const more = frame.length() > kHeaderSize + 1 && (frame.cdata()[kHeaderSize + 1] & 0x80);
  if (!more) {
    m_batch.reset();
    flushResponce();
  } else if (!m_batch.is_running()) {
    m_batch.set(kBatchMs, &HdlcSlot::flushResponce, this);
  }
}

void HdlcSlot::enqResponce(Packet& frame) {
  std::uint8_t const* const bytes = frame.cdata();
  auto const address = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
  if (address != m_address) return;
  m_receive = static_cast<std::uint8_t>(bytes[2] >> 5);
  std::size_t const size = frame.length() - kHeaderSize + kPackageOverhead;
  // A controller's decoder takes no more packages in one list than ours does.
  auto const& pending = m_response.ref_hdlcPackages();
  if (!pending.empty() && (m_batch_size + size > kBatchLimit || pending.size() >= ASN1::MaximumArraySize))
    flushResponce();
  LGCP::HdlcPackage package;
  package.set_body(std::vector<char>(bytes + kHeaderSize, bytes + frame.length()));
  m_response.ref_hdlcPackages().push_back(package);
  m_batch_size += size;
}

void HdlcSlot::flushResponce() {
  auto& packages = m_response.ref_hdlcPackages();
  if (tracing()) std::clog << ext::header(this) << "flushResponce: " << packages.size() << std::endl;
  if (!packages.empty()) OnIoctlResponse(m_response);
  packages.clear();
  m_batch_size = 0;
}

void HdlcSlot::on_hdlc_error(Cause::Type) {
  m_read_failed = true;
  std::clog << ext::header(this) << "on_hdlc_error" << std::endl;
}

void HdlcSlot::OnUpdateTimer() {
  m_update.set(this);
  UpdateHDLC_Statistics();
}

void HdlcSlot::UpdateHDLC_Statistics() {
  HDLC::Statistics const& counts = m_channel->statistics();
  LGCP::IoctlResponse response;
  LGCP::HdlcLinkInfo& info = response.select_hdlcLinkInfo();
  info.set_txSU(static_cast<int>(counts.sent));
  info.set_txDiscard(static_cast<int>(counts.discarded));
  info.set_txError(static_cast<int>(counts.write_errors));
  info.set_txOverflow(static_cast<int>(counts.overflows));
  info.set_rxSU(static_cast<int>(counts.received));
  OnIoctlResponse(response);
}

HdlcSlotFactory& HdlcSlotFactory::instance() {
  static HdlcSlotFactory factory;
  return factory;
}

Slot* HdlcSlotFactory::INewSlot(LGCP::CreateParams const& params) {
  if (tracing()) std::clog << "\n\nHdlcSlotFactory.INewSlot" << std::endl << std::endl;
  if (!params.hdlcParams_isSelected()) return nullptr;
  return new HdlcSlot(params.get_hdlcParams());
}

void HdlcSlotFactory::SelfSignal(LGCP::Signal const& signal) {
  if (!signal.trunkStatus_isSelected()) return;
  ACP::TrunkStatus const& status = signal.get_trunkStatus();
  for (Slot* slot : slots())
    slot->OnTrunkStatus(static_cast<unsigned>(status.get_trunk().getValue()), status.get_state());
}
