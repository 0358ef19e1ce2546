#pragma once
// The board's clock-source selector on "/dev/hal". The device is opened at the first
// use that finds it openable and kept for the process.

namespace Hardware {

class ClockSource {
public:
  static constexpr unsigned kFreeRun = 4;
  static constexpr unsigned kX3 = 5;

  ClockSource() = default;
  ~ClockSource();
  ClockSource(ClockSource const&) = delete;
  ClockSource& operator=(ClockSource const&) = delete;

  // Opens the device when it is not open yet; true when it is open.
  bool IsOpened();
  // Selects source n on the open device: 0, or the errno of the refusal.
  int Select(unsigned source);

  // The name logged for a source; null past the table (sources 0..7).
  static char const* Name(unsigned source);

private:
  int m_fd = -1;
};

}  // namespace Hardware
