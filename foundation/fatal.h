#pragma once
// The single way the process dies on a condition it cannot survive: the report reaches
// every log stream (and through them the system log) before abort().

#include <string_view>

[[noreturn]] void fatal_report(std::string_view text);
