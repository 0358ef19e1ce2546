#pragma once
// The one door to the board's devices. Production code opens, drives, reads and writes
// every board device through Board::io(); the default implementation is the system
// calls, the board stand-in installs its own.

#include <cstddef>
#include <sys/types.h>

namespace Board {

// Device paths of the board, defined here so that no other production file names "/dev/".
inline constexpr char const kWatchdog[] = "/dev/misc/gw-wd";
// The time-slot switch; its requests are in foundation/board_requests.h.
inline constexpr char const kHal[] = "/dev/hal";
// The media drivers, opened through the getters of hardware/device_names.h.
inline constexpr char const kVoice[] = "/dev/voice";
inline constexpr char const kMixer[] = "/dev/mixer";
inline constexpr char const kDtmf[] = "/dev/dtmf";
inline constexpr char const kDsp[] = "/dev/dsp";
inline constexpr char const kRtp[] = "/dev/rtp";
inline constexpr char const kRtpExt[] = "/dev/rtp_ext";
inline constexpr char const kModemControl[] = "/dev/mctl";
inline constexpr char const kMaintenance[] = "/dev/maintenance";
inline constexpr char const kSpiTdm[] = "/dev/spi_tdm";
// E1 CAS signalling.
inline constexpr char const kE1Cas[] = "/dev/e1-cas";
// The multichannel HDLC controller: one open per allocated channel.
inline constexpr char const kMccControl[] = "/dev/mcc/ctl";
// The DSP modems' terminals, by modem number (a printf format).
inline constexpr char const kModemTerminal[] = "/dev/mdm%d";

class Io {
public:
  virtual ~Io() = default;
  virtual int open(char const* path, int flags) = 0;
  virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual int ioctl_value(int fd, unsigned long request, unsigned long value) = 0;
  virtual ssize_t read(int fd, void* buf, std::size_t len) = 0;
  virtual ssize_t write(int fd, void const* buf, std::size_t len) = 0;
};

// Forwards every call to the system.
class SystemIo : public Io {
public:
  int open(char const* path, int flags) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  int ioctl_value(int fd, unsigned long request, unsigned long value) override;
  ssize_t read(int fd, void* buf, std::size_t len) override;
  ssize_t write(int fd, void const* buf, std::size_t len) override;
};

Io& io();

// Installs the implementation behind io(); null restores the system calls. Returns the
// previous one (null when it was the system's).
Io* install(Io* impl);

}  // namespace Board
