#include "slots/mcc/mcc_slot.h"

#include <cerrno>
#include <fcntl.h>
#include <iostream>
#include <poll.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"

namespace {

constexpr std::uint32_t kPacketSize = 512;
constexpr std::uint32_t kRxThreshold = 1;
constexpr std::uint32_t kTxThreshold = 1;

}  // namespace

MccSlot::MccSlot(Fd fd) : channel(Board::io().ioctl_value(fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0)) {
  event.Bind("MccSlot::OnEvent", &MccSlot::OnEvent, this);
  event.Schedule(fd, POLLIN);
}

bool MccSlot::IUserData(ASN1::OCTET_STRING const& data) {
  if (Board::io().write(event.lowlevel_fd(), data.data(), data.size()) < 0) {
    Errno const error;
    std::cerr << ext::header(&MccFactory::instance()) << *this << ": user data of " << data.size()
              << " bytes not written: " << error << std::endl;
  }
  // The controller is not told: its command succeeds whatever the write did.
  return true;
}

void MccSlot::OnEvent(int, short revents) {
  if (revents & POLLIN) DoRead();
  // User data is written through the watch's descriptor: it stays open.
  event.StopOnHangUp(revents, false, Event::Ending::keep, ext::header(&MccFactory::instance()), *this,
                     ": channel hung up: no more frames");
}

void MccSlot::DoRead() {
  for (;;) {
    char buffer[kReadSize];
    ssize_t const got = Board::io().read(event.lowlevel_fd(), buffer, sizeof buffer);
    if (got > 0) {
      OnUserData(std::vector<char>(buffer, buffer + got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    // Empty (EAGAIN), failed, or a frame of no bytes: the round ends.
    return;
  }
}

MccFactory& MccFactory::instance() {
  static MccFactory factory;
  return factory;
}

Slot* MccFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.mcc_isSelected()) return nullptr;
  LGCP::MccParams const& mcc = params.get_mcc();
  Fd fd(Board::io().open(Board::kMccControl, O_RDWR | O_NONBLOCK));
  if (!fd) {
    Errno const error;
    std::cerr << ext::header(this) << "fail to open MCC device: " << error << std::endl;
    return nullptr;
  }
  std::uint32_t type = 0;
  switch (mcc.get_type()) {
    case LGCP::MccType::data: type = 0; break;
    case LGCP::MccType::bri: type = 1; break;
    case LGCP::MccType::transparent: type = 2; break;
    default: return nullptr;
  }
  if (mcc.get_mode() == LGCP::MccMode::ss7) type = 3;
  std::clog << ext::header(this) << "MCC_ALLOCATE type=" << type << std::endl;
  Board::MccAllocate allocation{type, kPacketSize, 0, kRxThreshold, kTxThreshold};
  if (Board::io().ioctl(fd.lowlevel_fd(), Board::MCC_ALLOCATE, &allocation) < 0) {
    Errno const error;
    std::cerr << ext::header(this) << "MCC_ALLOCATE fail: " << error << std::endl;
    return nullptr;
  }
  auto* const slot = new MccSlot(std::move(fd));
  if (!slot->watched()) {
    std::cerr << ext::header(this) << "channel not watched: slot not created" << std::endl;
    delete slot;
    return nullptr;
  }
  return slot;
}

void MccFactory::Query(LGCP::Resources& resources) {
  resources.set_mcc_data(0);
  resources.set_mcc_bri(0);
  resources.set_mcc_trans(0);
  Fd fd(Board::io().open(Board::kMccControl, O_RDONLY));
  if (!fd) return;
  Board::MccCapacity capacity{};
  if (Board::io().ioctl(fd.lowlevel_fd(), Board::MCC_CAPACITY, &capacity) != 0) return;
  resources.set_mcc_data(static_cast<int>(capacity.data));
  resources.set_mcc_bri(static_cast<int>(capacity.bri));
  resources.set_mcc_trans(static_cast<int>(capacity.transparent));
}
