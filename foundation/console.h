#pragma once
// Terminal modes of standard input, and the console's time stamp.

#include <ostream>

class Console {
public:
  // Character-at-a-time input without echo; signals from the keyboard still work.
  static void SwitchToBinaryMode();
  static void SwitchToNonBlockMode();
};

// Local time as "dd/mm HH:MM:SS"; nothing when the time cannot be read.
std::ostream& timestamp(std::ostream& os);
