#pragma once
// The stand-in's control protocol, for tests that drive the daemon from outside: one
// command line in, the answer's lines out, the last one "ok" or "error <text>".
// Words are separated by spaces or tabs. A <device> is its path, or the path without
// its "/dev/" ("hal", "misc/gw-wd").
//
//   log [<device> [<request>]]   the request log, oldest first, one request a line:
//                                  <ms> <device> <request>[ <fields>][ -> <ERRNO>]
//                                then "dropped <n>", the requests no longer kept.
//                                <request> is the logged name, words and all:
//                                "open", "close", "read", "write", "ioctl connect", ...
//   clear                        empties the request log and its dropped count
//   state <device> [<words>]     the model's state ("state hal <port>")
//   set <device> [<words>]       sets what the model's outside world does
//                                ("set hal <port> <byte>")
//   fail <device> <request> <errno> once|always
//                                the next (once) or every (always) such request fails
//                                with <errno>, a name (EIO) or a number (5)
//   clear-faults                 forgets every armed fault
//   deliver <device> <hex>       writes one event record into the device's oldest open
//                                still held; the bytes in hexadecimal, spaces between
//                                them allowed ("01 02ff")
//   watchdog                     "state misc/gw-wd": the watchdog's state and writes
//
// The lines of each model's state and its "set" lines are described beside the model
// (hal.h, watchdog.h, tonec.h, dsproc.h, voice.h, mixer.h).

#include <string>
#include <string_view>
#include <vector>

namespace BoardSim {

class Sim;

// Runs one command line (without its line break) against the stand-in.
std::vector<std::string> control_command(Sim& sim, std::string_view line);

}  // namespace BoardSim
