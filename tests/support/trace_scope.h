#pragma once
// The process's trace switches as they were before the test: a test turns switches on
// and this puts them back when it ends.

#include "foundation/trace_ctl.h"

namespace test {

class TraceScope {
public:
  TraceScope() = default;
  ~TraceScope() { traces = m_saved; }
  TraceScope(TraceScope const&) = delete;
  TraceScope& operator=(TraceScope const&) = delete;

private:
  TraceCtl m_saved = traces;
};

}  // namespace test
