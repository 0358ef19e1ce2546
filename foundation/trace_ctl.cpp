#include "foundation/trace_ctl.h"

#include <iostream>

#include "foundation/ini_reader.h"

TraceCtl traces;

void TraceCtl::Configure(IniFile::Section& section) {
  for (IniFile::SubSection& block : section) Configure(block);
}

void TraceCtl::Configure(IniFile::SubSection& block) {
  IniFile::Reader reader("traces: ", std::cerr);
  signalling.hdlc = false;
  signalling.lemzgw = false;
  reader.optional.add(&signalling.hdlc, "signalling.hdlc");
  reader.optional.add(&signalling.lemzgw, "signalling.lemzgw");
  reader.optional.add(&signalling.events, "signalling.events");
  monitoring.internal = false;
  reader.optional.add(&monitoring.internal, "monitoring.internal");
  reader(block);
}
