#include "tests/server/board_services.h"

namespace test_server {

BoardServicesTest::BoardServicesTest() {
  sim.add<BoardSim::Hal>();
  sim.add<BoardSim::Maintenance>();
  sim.add<BoardSim::E1Cas>();
}

BoardServicesTest::~BoardServicesTest() {
  server.Deactivate();
  m_services.clear();
}

void BoardServicesTest::connect() { server.Activate(controller.link()); }

std::vector<LGCP::Message> BoardServicesTest::run_for(unsigned ms) {
  std::vector<LGCP::Message> got;
  test::run_until(
      [&] {
        for (auto& m : controller.pending()) got.push_back(std::move(m));
        return false;
      },
      ms);
  for (auto& m : controller.pending()) got.push_back(std::move(m));
  return got;
}

std::vector<std::string> BoardServicesTest::model(std::string const& device, std::string const& verb,
                                                  std::vector<std::string> const& args) {
  BoardSim::Model::Answer const answer = sim.command(device, verb, args);
  EXPECT_EQ(answer.error, "") << verb << ' ' << device;
  return answer.lines;
}

std::vector<std::string> BoardServicesTest::fields(std::string const& device, std::string const& name) {
  std::vector<std::string> out;
  for (auto const& r : sim.requests(device, name)) out.push_back(r.error ? r.fields + " -> error" : r.fields);
  return out;
}

namespace {
template <class Text>
std::vector<std::string> texts(std::vector<LGCP::Message> const& messages, Text text) {
  std::vector<std::string> out;
  for (auto const& m : messages)
    if (std::string t = text(m); !t.empty()) out.push_back(std::move(t));
  return out;
}
}  // namespace

std::vector<std::string> cas_signals(std::vector<LGCP::Message> const& messages) {
  return texts(messages, board_test::cas_text);
}

std::vector<std::string> trunk_signals(std::vector<LGCP::Message> const& messages) {
  return texts(messages, board_test::trunk_text);
}

}  // namespace test_server
