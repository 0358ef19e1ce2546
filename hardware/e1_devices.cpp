#include "hardware/e1_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include "foundation/board_io.h"
#include "hardware/device_names.h"

namespace Hardware {

E1Maintenance::~E1Maintenance() {
  if (m_fd >= 0) ::close(m_fd);
}

bool E1Maintenance::IsOpened() {
  if (m_fd >= 0) return true;
  m_fd = Board::io().open(GetMaintenance(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  return m_fd >= 0;
}

bool E1Maintenance::Status(unsigned trunk, Board::E1TrunkStatus& record) {
  record = {};
  record.trunk = trunk;
  return Board::io().ioctl(m_fd, Board::E1_TRUNK_STATUS, &record) >= 0;
}

bool E1Maintenance::SetTransmitClock(std::uint32_t mask) {
  return Board::io().ioctl_value(m_fd, Board::E1_TRANSMIT_CLOCK, mask) >= 0;
}

bool CasDevice::Open() {
  if (m_fd.is_valid()) return false;
  int const fd = Board::io().open(Board::kE1Cas, O_RDWR | O_NONBLOCK);
  if (fd < 0) return false;
  m_fd = Fd(fd);
  return true;
}

int CasDevice::OpenTrunk(unsigned trunk) {
  return Board::io().ioctl_value(m_fd.lowlevel_fd(), Board::CAS_OPEN_TRUNK, trunk);
}

int CasDevice::CloseTrunk(unsigned trunk) {
  return Board::io().ioctl_value(m_fd.lowlevel_fd(), Board::CAS_CLOSE_TRUNK, trunk);
}

int CasDevice::SetBits(Board::CasChannel& channel) {
  return Board::io().ioctl(m_fd.lowlevel_fd(), Board::CAS_SET_BITS, &channel);
}

int CasDevice::GetBits(Board::CasChannel& channel) {
  return Board::io().ioctl(m_fd.lowlevel_fd(), Board::CAS_GET_BITS, &channel);
}

int CasDevice::Configure(Board::CasConfigure& record) {
  return Board::io().ioctl(m_fd.lowlevel_fd(), Board::CAS_CONFIGURE, &record);
}

long CasDevice::ReadChange(Board::CasChannel& channel) {
  // Exactly one record per read: a stream device hands out the next one on the next read.
  Board::CasChannel record;
  ssize_t const got = Board::io().read(m_fd.lowlevel_fd(), &record, sizeof record);
  if (got == static_cast<ssize_t>(sizeof record)) channel = record;
  return got;
}

}  // namespace Hardware
