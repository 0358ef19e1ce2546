#include "foundation/fatal.h"

#include <cstdlib>
#include <iostream>

void fatal_report(std::string_view text) {
  std::cerr << text << '\n';
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::abort();
}
