#pragma once
// The process's trace switches: read from section "traces" of the configuration file at
// start-up, tested by the components before they write optional trace lines.

#include "foundation/ini_file.h"

class TraceCtl {
public:
  struct Signalling {
    bool hdlc = false;
    bool lemzgw = false;
    bool events = false;
  };
  struct Monitoring {
    bool internal = false;
  };

  // Every block of the section in file order.
  void Configure(IniFile::Section& section);
  // A block turns hdlc, lemzgw and internal off unless it names them; events keeps what
  // an earlier block gave it.
  void Configure(IniFile::SubSection& block);

  Signalling signalling;
  Monitoring monitoring;
};

extern TraceCtl traces;
