#pragma once
// The line-interface chips of the board's eight BRI trunk channels: byte registers on
// the SPI bus that "/dev/hal" exposes. Brings the channels up, switches them on and
// off, makes one of them the clock master. Every line goes to the log stream and begins
// with "spi: ". A driver without SPI (ENODEV) ends SPI access for the rest of the run.

#include <cstdint>

namespace Hardware {

class SpiChannels {
public:
  static constexpr int kChannels = 8;
  // Registers of each chip.
  static constexpr unsigned kSetup = 48;        // 8 at initialisation
  static constexpr unsigned kPower = 50;        // 128 off, 0 on
  static constexpr unsigned kLineStatus = 51;   // read by the status pass
  static constexpr unsigned kClockMaster = 87;  // 48 not master, 56 master

  SpiChannels() = default;
  virtual ~SpiChannels();
  SpiChannels(SpiChannels const&) = delete;
  SpiChannels& operator=(SpiChannels const&) = delete;

  // Opens the device if it is not open and brings up channels 0..6.
  void init_device_and_channels();
  void init_channel(int channel);
  void enable_channel(int channel);
  void disable_channel(int channel);
  // Channel 0..7 becomes the only clock master; -1 makes none.
  void clock(int channel);
  void write(unsigned channel, unsigned reg, unsigned value);
  // The register's value; 0 when it cannot be read.
  unsigned read(unsigned channel, unsigned reg);

  bool is_open() const { return m_fd >= 0; }
  bool spi_present() const { return m_present; }

protected:
  // Disables every channel, drops the clock master and closes the device.
  void shutdown();
  // The driver has just said it has no SPI.
  virtual void on_spi_lost() {}

private:
  // The checks of a channel operation on channel lowest..7, the device opened if need
  // be; true when it may go on.
  bool channel_usable(int channel, char const* what, int lowest = 0);
  // Reports a failed access (value: what a write wrote); ENODEV is the loss of SPI.
  void access_failed(int error, char const* what, unsigned channel, unsigned reg, unsigned const* value);

  int m_fd = -1;
  bool m_present = true;
};

}  // namespace Hardware
