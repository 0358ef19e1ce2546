#pragma once
// A controller-side service for the fuzz targets whose slots send signals: each signal is
// encoded as the server would send it, and one that does not encode is a finding.

#include <iterator>
#include <vector>

#include "asn1/coder_env.h"
#include "server/control_server.h"
#include "tests/fuzz/support.h"

namespace fuzz {

struct SignalEncodeCheck : CtrlSrv::Service {
  void OnConnect() override {}
  void OnDisconnect() override {}
  bool OnCommand(LGCP::Command const&) override { return false; }
  void OnSignal(LGCP::Signal const& signal) override {
    LGCP::Message message;
    message.set_slot(0);
    message.set_pdu().select_signal(signal);
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    std::vector<char> bytes;
    check(ASN1::encode(message, &env, std::back_inserter(bytes)));
  }
};

}  // namespace fuzz
