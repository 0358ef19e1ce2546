#pragma once
// A control server with the board services a test makes, over a fresh stand-in with the
// switch and the E1 drivers, on simulated time, and a controller at the other end of
// the link. Every test makes its own service objects, so nothing one-way (SPI lost,
// clock control off, E1's endless status timer) carries over.

#include <memory>
#include <string>
#include <vector>

#include "boardsim/e1_cas.h"
#include "boardsim/hal.h"
#include "boardsim/maintenance.h"
#include "server/control_server.h"
#include "tests/protocol/link_harness.h"
#include "tests/server/board_messages.h"
#include "tests/server/controller_end.h"
#include "tests/support/board_fixture.h"

namespace test_server {

class BoardServicesTest : public test::BoardTest {
protected:
  BoardServicesTest();
  ~BoardServicesTest() override;

  // Makes a service on the stand-in; bound to the server unless `bound` is false.
  template <class S>
  S& make(bool bound = true) {
    auto made = std::make_unique<S>();
    S& service = *made;
    if (bound) server.Bind(&service);
    m_services.push_back(std::move(made));
    return service;
  }
  // The controller connects: every bound service hears of it.
  void connect();
  // Runs the loop for `ms` of simulated time; the messages that came meanwhile.
  std::vector<LGCP::Message> run_for(unsigned ms);
  // "set <device> ..." or "state <device> ..." on the stand-in's models.
  std::vector<std::string> model(std::string const& device, std::string const& verb, std::vector<std::string> const& args);
  // The logged fields of the requests named `name` on `device`, oldest first.
  std::vector<std::string> fields(std::string const& device, std::string const& name);

  test::SimulatedPoll poll{clock};
  test::StreamCapture streams;
  ControllerEnd controller;
  CtrlSrv::Server server;

private:
  std::vector<std::unique_ptr<CtrlSrv::Service>> m_services;
};

// The cas and trunkStatus signals among the messages, as board_test prints them.
std::vector<std::string> cas_signals(std::vector<LGCP::Message> const& messages);
std::vector<std::string> trunk_signals(std::vector<LGCP::Message> const& messages);

}  // namespace test_server
