#include "tests/slots/channel_fixture.h"

#include <chrono>

#include "boardsim/request_log.h"
#include "hardware/hw_mux.h"
#include "server/slots.h"
#include "server/start_up/slot_factories.h"
#include "tests/support/logged_requests.h"

namespace test {

ChannelHarness::ChannelHarness() {
  MakeSlotFactories();
  HwMux::instance();
  Slots::instance().set_release_pause(std::chrono::milliseconds(0));
  server.Bind(&watch);
  server.Bind(&Slots::instance());
  server.Activate(controller.link());
  run_until([&] { return watch.connects == 1; }, 100);
}

ChannelHarness::~ChannelHarness() { server.Deactivate(); }

int ChannelHarness::answer(LGCP::Message const& message) {
  controller.send(message);
  int const wanted = message.get_seq().getValue();
  Messages answers;
  run_until(
      [&] {
        for (LGCP::Message& m : controller.pending()) {
          if (m.get_pdu().response_isSelected() && m.seq_isPresent() && m.get_seq().getValue() == wanted)
            answers.push_back(std::move(m));
          else
            kept.push_back(std::move(m));
        }
        return !answers.empty();
      },
      1000);
  if (answers.size() != 1) return -2;
  return lgcp_test::error_of(answers[0]);
}

bool ChannelHarness::command(LGCP::Message const& message) { return answer(message) == -1; }

void ChannelHarness::run(unsigned ms) {
  run_until([] { return false; }, ms);
  for (LGCP::Message& m : controller.pending()) kept.push_back(std::move(m));
}

bool ChannelHarness::wait_for(std::function<bool(LGCP::Message const&)> const& match, unsigned ms) {
  return run_real_until(
      [&] {
        for (LGCP::Message& m : controller.pending()) kept.push_back(std::move(m));
        for (LGCP::Message const& m : kept)
          if (m.get_pdu().signal_isSelected() && match(m)) return true;
        return false;
      },
      ms);
}

ChannelHarness::Messages ChannelHarness::take(std::function<bool(LGCP::Message const&)> const& match) {
  Messages taken, left;
  for (LGCP::Message& m : kept) (m.get_pdu().signal_isSelected() && match(m) ? taken : left).push_back(std::move(m));
  kept = std::move(left);
  return taken;
}

std::vector<std::vector<std::string>> ChannelHarness::batches(int slot) {
  std::vector<std::vector<std::string>> found;
  for (LGCP::Message const& m :
       take([&](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && lgcp_test::packages_of(m); }))
    found.push_back(*lgcp_test::packages_of(m));
  return found;
}

std::vector<std::string> ChannelHarness::received_data(int slot) {
  std::vector<std::string> found;
  for (LGCP::Message const& m :
       take([&](LGCP::Message const& m) { return lgcp_test::slot_of(m) == slot && lgcp_test::user_data_of(m); }))
    found.push_back(*lgcp_test::user_data_of(m));
  return found;
}

int ChannelHarness::last_port() {
  auto const results = logged("/dev/mcc/ctl", "ioctl MCC_TIMESLOT");
  if (results.empty()) return -1;
  std::string const& last = results.back();
  auto const at = last.find("result=");
  return at == std::string::npos ? -1 : std::stoi(last.substr(at + 7));
}

void ChannelHarness::inject(int port, std::string const& bytes) {
  ASSERT_EQ(mcc_model().inject(static_cast<std::uint32_t>(port), bytes), "");
}

std::vector<std::string> ChannelHarness::logged(std::string const& device, std::string const& request) {
  return logged_fields(switch_board(), device, request);
}

std::string ChannelHarness::bytes(std::string const& hex) {
  std::string out;
  std::string digits;
  for (char c : hex)
    if (c != ' ') digits += c;
  EXPECT_TRUE(BoardSim::hex_bytes(digits, out)) << hex;
  return out;
}

}  // namespace test
