#include "foundation/console.h"

#include <ctime>
#include <iostream>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "foundation/clock.h"

void Console::SwitchToBinaryMode() {
  termios modes{};
  if (::tcgetattr(STDIN_FILENO, &modes) != 0) std::cerr << "can't obtain terminal attributes" << std::endl;
  modes.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOPRT | ECHOCTL);
  if (::tcsetattr(STDIN_FILENO, TCSADRAIN, &modes) != 0) std::cerr << "can't set terminal attributes" << std::endl;
}

void Console::SwitchToNonBlockMode() {
  int on = 1;
  if (::ioctl(STDIN_FILENO, FIONBIO, &on) != 0) std::cerr << "can't switch terminal to blocked mode" << std::endl;
}

std::ostream& timestamp(std::ostream& os) {
  // The loop's wall clock, so that a latched or simulated time shows here too.
  Mux::timeval now;
  Mux::gettimeval(&now);
  time_t const seconds = now.tv_sec;
  tm local;
  if (!::localtime_r(&seconds, &local)) return os;
  char text[32];
  if (std::strftime(text, sizeof text, "%d/%m %H:%M:%S", &local) == 0) return os;
  return os << text;
}
