#include "foundation/fatal.h"

#include <cstdlib>
#include <iostream>

void fatal_report(std::string_view text) { fatal_report(text, std::cerr); }

void fatal_report(std::string_view text, std::ostream& stream) {
  stream << text << '\n';
  std::cout.flush();
  std::cerr.flush();
  std::clog.flush();
  std::abort();
}
