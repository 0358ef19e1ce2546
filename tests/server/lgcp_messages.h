#pragma once
// LGCP commands built and answers read the same way by the tests inside the process and
// by those that drive the daemon over TCP.

#include <functional>

#include "schemas/lgcp.h"

namespace lgcp_test {

// A command message built by `fill`: seq and slot (negative: absent).
LGCP::Message command(int seq, int slot, std::function<void(LGCP::Command&)> const& fill);

bool is_success(LGCP::Message const& m);
// The response's error cause, or -1 when it is not an error response.
int error_of(LGCP::Message const& m);

}  // namespace lgcp_test
